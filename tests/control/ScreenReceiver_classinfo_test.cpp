// What a container learns before it shows the control: the class information that names the
// default and event interfaces, and quick activation, which sites the control and connects the
// container's event sink in one call.
#include <gtest/gtest.h>

#include <cstddef>

#include "tests/control/ReceiverOnLoopback.h"
#include "tests/control/TestContainerSite.h"

namespace kwz_test {
namespace {

std::u16string NameOf(ITypeInfo* info, MEMBERID member) {
  BSTR name = nullptr;
  EXPECT_EQ(info->GetDocumentation(member, &name, nullptr, nullptr, nullptr), S_OK);
  return TakeBstr(name);
}

GUID GuidOf(ITypeInfo* info) {
  TYPEATTR* attr = nullptr;
  EXPECT_EQ(info->GetTypeAttr(&attr), S_OK);
  if (attr == nullptr) return GUID_NULL;
  const GUID guid = attr->guid;
  info->ReleaseTypeAttr(attr);
  return guid;
}

TEST_F(ControlTest, ClassInfoListsTheDefaultInterfaceAndTheEventSource) {
  CComPtr<IProvideClassInfo2> provide;
  ASSERT_EQ(dispatch_->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&provide)),
            S_OK);
  CComPtr<ITypeInfo> coclass;
  ASSERT_EQ(provide->GetClassInfo(&coclass), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_TRUE(IsEqualCLSID(attr->guid, CLSID_KWZ_ScreenReceiver));
  EXPECT_EQ(attr->wTypeFlags & (TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL),
            TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL);
  const WORD count = attr->cImplTypes;
  coclass->ReleaseTypeAttr(attr);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(NameOf(coclass, MEMBERID_NIL), u"KWZ_ScreenReceiver");

  // Walked as a container finds the events to listen to: the default source interface.
  struct Listed {
    GUID iid;
    INT flags;
    std::u16string name;
  };
  std::vector<Listed> listed;
  for (UINT i = 0; i < count; ++i) {
    HREFTYPE reference = 0;
    INT flags = 0;
    ASSERT_EQ(coclass->GetRefTypeOfImplType(i, &reference), S_OK);
    ASSERT_EQ(coclass->GetImplTypeFlags(i, &flags), S_OK);
    CComPtr<ITypeInfo> type;
    ASSERT_EQ(coclass->GetRefTypeInfo(reference, &type), S_OK);
    listed.push_back({GuidOf(type), flags, NameOf(type, MEMBERID_NIL)});
  }
  EXPECT_TRUE(IsEqualIID(listed[0].iid, IID_IKWZ_ScreenReceiver));
  EXPECT_EQ(listed[0].flags, IMPLTYPEFLAG_FDEFAULT);
  EXPECT_EQ(listed[0].name, u"IKWZ_ScreenReceiver");
  EXPECT_TRUE(IsEqualIID(listed[1].iid, DIID__IKWZ_ScreenReceiverEvents));
  EXPECT_EQ(listed[1].flags, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
  EXPECT_EQ(listed[1].name, u"_IKWZ_ScreenReceiverEvents");
  HREFTYPE beyond = 0;
  EXPECT_EQ(coclass->GetRefTypeOfImplType(count, &beyond), TYPE_E_ELEMENTNOTFOUND);

  GUID source{};
  ASSERT_EQ(provide->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
  EXPECT_TRUE(IsEqualIID(source, listed[1].iid));
  GUID other{};
  EXPECT_EQ(provide->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID + 1, &other), E_FAIL);
  EXPECT_TRUE(IsEqualGUID(other, GUID_NULL));
}

// A container that binds early walks from the class to its library and to the interface half of
// the dual interface, then calls members by the slots the library gives.
TEST_F(ControlTest, TypeLibraryLeadsFromTheClassToSlotsThatReachTheRightMembers) {
  CComPtr<IProvideClassInfo2> provide;
  ASSERT_EQ(dispatch_->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&provide)),
            S_OK);
  CComPtr<ITypeInfo> coclass;
  ASSERT_EQ(provide->GetClassInfo(&coclass), S_OK);
  CComPtr<ITypeLib> lib;
  UINT index = 0;
  ASSERT_EQ(coclass->GetContainingTypeLib(&lib, &index), S_OK);
  TLIBATTR* libAttr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&libAttr), S_OK);
  EXPECT_EQ(libAttr->guid, LIBID_KWZ_ScreenReceiverLib);
  EXPECT_EQ(libAttr->lcid, 1033u);
  EXPECT_EQ(libAttr->wMajorVerNum, 1);
  EXPECT_EQ(libAttr->wMinorVerNum, 0);
  lib->ReleaseTLibAttr(libAttr);
  BSTR libName = nullptr;
  BSTR libHelp = nullptr;
  ASSERT_EQ(lib->GetDocumentation(-1, &libName, &libHelp, nullptr, nullptr), S_OK);
  EXPECT_EQ(TakeBstr(libName), u"KWZ_ScreenReceiverLib");
  EXPECT_EQ(TakeBstr(libHelp), u"KWZ_ScreenReceiver 1.0 Type Library");
  CComPtr<ITypeInfo> listed;
  ASSERT_EQ(lib->GetTypeInfo(index, &listed), S_OK);
  EXPECT_EQ(GuidOf(listed), CLSID_KWZ_ScreenReceiver);

  // IDispatch's type information is the dispatch half; -1 leads to the half called by slot.
  CComPtr<ITypeInfo> dispatchHalf;
  ASSERT_EQ(dispatch_->GetTypeInfo(0, 0, &dispatchHalf), S_OK);
  HREFTYPE reference = 0;
  ASSERT_EQ(dispatchHalf->GetRefTypeOfImplType(~0u, &reference), S_OK);
  CComPtr<ITypeInfo> vtable;
  ASSERT_EQ(dispatchHalf->GetRefTypeInfo(reference, &vtable), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(vtable->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
  EXPECT_EQ(attr->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FNONEXTENSIBLE),
            TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FNONEXTENSIBLE);
  const WORD functions = attr->cFuncs;
  vtable->ReleaseTypeAttr(attr);
  ASSERT_EQ(functions, 28);

  // Each property written through the slot the library gives and read back by its name through
  // IDispatch, which binds names to members: a slot out of order reaches another member.
  auto* object = static_cast<IKWZ_ScreenReceiver*>(control_);
  void** slots = *reinterpret_cast<void***>(object);
  int properties = 0;
  for (UINT i = 0; i < functions; ++i) {
    FUNCDESC* desc = nullptr;
    ASSERT_EQ(vtable->GetFuncDesc(i, &desc), S_OK);
    EXPECT_EQ(desc->oVft, static_cast<SHORT>((7 + i) * sizeof(void*)));
    const bool put = desc->invkind == INVOKE_PROPERTYPUT;
    const VARTYPE vt = put ? desc->lprgelemdescParam[0].tdesc.vt : VARTYPE{VT_EMPTY};
    const MEMBERID memid = desc->memid;
    void* slot = slots[desc->oVft / sizeof(void*)];
    vtable->ReleaseFuncDesc(desc);
    if (!put) continue;
    ++properties;
    const LONG number = 40 + static_cast<LONG>(i);
    if (vt == VT_I4) {
      ASSERT_EQ(reinterpret_cast<HRESULT (*)(IKWZ_ScreenReceiver*, LONG)>(slot)(object, number),
                S_OK);
    } else {
      ASSERT_EQ(vt, VT_BSTR);
      BSTR text = SysAllocString(FormatWide(u"%ld", number).c_str());
      ASSERT_EQ(reinterpret_cast<HRESULT (*)(IKWZ_ScreenReceiver*, BSTR)>(slot)(object, text),
                S_OK);
      SysFreeString(text);
    }
    const std::u16string name = NameOf(vtable, memid);
    const ScriptResult got = script().Get(name.c_str());
    const std::u16string read =
        vt == VT_BSTR ? got.text : FormatWide(u"%ld", static_cast<LONG>(got.number));
    // EnableStretch reads back 1 for any value that is not 0; the rest as given.
    EXPECT_EQ(read, name == u"EnableStretch" ? u"1" : FormatWide(u"%ld", number))
        << Narrow(name.c_str());
  }
  EXPECT_EQ(properties, 9);
}

TEST_F(ControlTest, EventInterfaceDescribesSizeUpdated) {
  CComPtr<IProvideClassInfo> provide;
  ASSERT_EQ(dispatch_->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(&provide)),
            S_OK);
  CComPtr<ITypeInfo> coclass;
  ASSERT_EQ(provide->GetClassInfo(&coclass), S_OK);
  HREFTYPE reference = 0;
  ASSERT_EQ(coclass->GetRefTypeOfImplType(1, &reference), S_OK);
  CComPtr<ITypeInfo> events;
  ASSERT_EQ(coclass->GetRefTypeInfo(reference, &events), S_OK);
  FUNCDESC* desc = nullptr;
  ASSERT_EQ(events->GetFuncDesc(0, &desc), S_OK);
  EXPECT_EQ(desc->memid, kDispSizeUpdated);
  ASSERT_EQ(desc->cParams, 2);
  EXPECT_EQ(desc->lprgelemdescParam[0].tdesc.vt, VT_UI4);
  EXPECT_EQ(desc->lprgelemdescParam[1].tdesc.vt, VT_UI4);
  events->ReleaseFuncDesc(desc);
  BSTR names[3] = {};
  UINT count = 0;
  ASSERT_EQ(events->GetNames(kDispSizeUpdated, names, 3, &count), S_OK);
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(TakeBstr(names[0]), u"SizeUpdated");
  EXPECT_EQ(TakeBstr(names[1]), u"dx");
  EXPECT_EQ(TakeBstr(names[2]), u"dy");
  BSTR help = nullptr;
  ASSERT_EQ(events->GetDocumentation(kDispSizeUpdated, nullptr, &help, nullptr, nullptr), S_OK);
  EXPECT_EQ(TakeBstr(help), u"method SizeUpdated");
}

class QuickActivation : public ReceiverOnLoopback {
 protected:
  void TearDown() override {
    if (ole_) {
      ole_->Close(OLECLOSE_NOSAVE);
      ole_->SetClientSite(nullptr);
    }
    ole_.Release();
    ReceiverOnLoopback::TearDown();
  }

  QACONTAINER Container(IOleClientSite* site, IUnknown* sink) {
    QACONTAINER container{};
    container.cbSize = sizeof container;
    container.pClientSite = site;
    container.pUnkEventSink = sink;
    return container;
  }

  CComPtr<IOleObject> ole_;
};

TEST_F(QuickActivation, SitesTheControlAndDeliversSizeUpdatedToTheSinkItWasGiven) {
  TestWindow window(800, 600);
  CComPtr<TestContainerSite> site;
  site.Attach(new TestContainerSite(window.Get(), RECT{0, 0, 640, 480}));
  CComPtr<SizeSink> sink;
  sink.Attach(new SizeSink());
  CComPtr<IQuickActivate> quick;
  ASSERT_EQ(dispatch_->QueryInterface(IID_IQuickActivate, reinterpret_cast<void**>(&quick)), S_OK);
  ASSERT_EQ(dispatch_->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole_)), S_OK);

  QACONTAINER container = Container(site, sink);
  QACONTROL control{};
  control.cbSize = sizeof control;
  control.dwPropNotifyCookie = 99;  // stale: the answer is written whole
  ASSERT_EQ(quick->QuickActivate(&container, &control), S_OK);
  EXPECT_EQ(control.cbSize, sizeof control);
  EXPECT_EQ(control.dwMiscStatus, 0x20191u);
  EXPECT_EQ(control.dwViewStatus, static_cast<DWORD>(VIEWSTATUS_SOLIDBKGND | VIEWSTATUS_OPAQUE));
  EXPECT_EQ(control.dwEventCookie, 1u);
  EXPECT_EQ(control.dwPropNotifyCookie, 0u);
  CComPtr<IOleClientSite> sited;
  ASSERT_EQ(ole_->GetClientSite(&sited), S_OK);
  EXPECT_EQ(sited.get(), static_cast<IOleClientSite*>(site.get()));
  sited.Release();

  ASSERT_EQ(ole_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, nullptr, nullptr), S_OK);
  Script s = script();
  ASSERT_EQ(s.Call(u"Init").hr, S_OK);
  ASSERT_EQ(s.Call(u"Start").hr, S_OK);
  SendPicture(3);
  ASSERT_TRUE(PumpUntil([&] { return !sink->Sizes().empty(); }));
  const SizeSink::Size size = sink->Sizes().front();
  EXPECT_EQ(size.dx, static_cast<ULONG>(kWidth));
  EXPECT_EQ(size.dy, static_cast<ULONG>(kHeight));
  EXPECT_EQ(size.thread, GetCurrentThreadId());

  // The cookie is the connection point's: the container ends the connection with it.
  CComPtr<IConnectionPointContainer> points;
  ASSERT_EQ(
      dispatch_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&points)),
      S_OK);
  CComPtr<IConnectionPoint> point;
  ASSERT_EQ(points->FindConnectionPoint(DIID__IKWZ_ScreenReceiverEvents, &point), S_OK);
  EXPECT_EQ(point->Unadvise(control.dwEventCookie), S_OK);
}

TEST_F(QuickActivation, ChecksSizesAndLeavesASinkOfAnotherInterfaceUnconnected) {
  CComPtr<IQuickActivate> quick;
  ASSERT_EQ(dispatch_->QueryInterface(IID_IQuickActivate, reinterpret_cast<void**>(&quick)), S_OK);
  ASSERT_EQ(dispatch_->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole_)), S_OK);
  CComPtr<SizeSink> deaf;
  deaf.Attach(new SizeSink(false));
  QACONTAINER container = Container(nullptr, deaf);
  QACONTROL control{};
  control.cbSize = sizeof control;
  EXPECT_EQ(quick->QuickActivate(nullptr, &control), E_POINTER);
  EXPECT_EQ(quick->QuickActivate(&container, nullptr), E_POINTER);

  control.cbSize = sizeof control - 1;
  EXPECT_EQ(quick->QuickActivate(&container, &control), E_INVALIDARG);
  control.cbSize = sizeof control;
  container.cbSize = offsetof(QACONTAINER, pUnkEventSink);  // stops short of the sink
  EXPECT_EQ(quick->QuickActivate(&container, &control), E_INVALIDARG);

  // An older container's shorter structure is enough.
  container.cbSize = offsetof(QACONTAINER, dwAmbientFlags);
  ASSERT_EQ(quick->QuickActivate(&container, &control), S_OK);
  EXPECT_EQ(control.dwEventCookie, 0u);
  EXPECT_EQ(control.dwMiscStatus, 0x20191u);
  EXPECT_EQ(deaf->References(), 1u) << "the refused sink is not held";
}

}  // namespace
}  // namespace kwz_test
