// What a container learns before it shows the control: the class information that names the
// default and event interfaces, the library's slots, and quick activation, which sites the
// control and connects the container's event sink in one call.
#include <gtest/gtest.h>

#include <cstddef>

#include "tests/control/ControlTestSupport.h"
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

// Walked as a container finds the events to listen to: the default source interface, whose
// member SizeUpdated is.
TEST_F(ControlTest, ClassInfoNamesTheDefaultInterfaceAndTheEventSource) {
  CComPtr<IProvideClassInfo2> provide;
  ASSERT_EQ(dispatch_->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&provide)),
            S_OK);
  CComPtr<ITypeInfo> coclass;
  ASSERT_EQ(provide->GetClassInfo(&coclass), S_OK);
  EXPECT_TRUE(IsEqualCLSID(GuidOf(coclass), CLSID_KWZ_ScreenReceiver));
  CComPtr<ITypeInfo> implemented[2];
  for (UINT i = 0; i < 2; ++i) {
    HREFTYPE reference = 0;
    INT flags = 0;
    ASSERT_EQ(coclass->GetRefTypeOfImplType(i, &reference), S_OK);
    ASSERT_EQ(coclass->GetImplTypeFlags(i, &flags), S_OK);
    EXPECT_EQ(flags, i == 0 ? IMPLTYPEFLAG_FDEFAULT : IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
    ASSERT_EQ(coclass->GetRefTypeInfo(reference, &implemented[i]), S_OK);
  }
  EXPECT_TRUE(IsEqualIID(GuidOf(implemented[0]), IID_IKWZ_ScreenReceiver));
  EXPECT_TRUE(IsEqualIID(GuidOf(implemented[1]), DIID__IKWZ_ScreenReceiverEvents));
  EXPECT_EQ(NameOf(implemented[1], kDispSizeUpdated), u"SizeUpdated");
  HREFTYPE beyond = 0;
  EXPECT_EQ(coclass->GetRefTypeOfImplType(2, &beyond), TYPE_E_ELEMENTNOTFOUND);

  GUID source{};
  ASSERT_EQ(provide->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
  EXPECT_TRUE(IsEqualIID(source, DIID__IKWZ_ScreenReceiverEvents));
  EXPECT_EQ(provide->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID + 1, &source), E_FAIL);
}

// A container that binds early goes from IDispatch's type information to the interface half of
// the dual interface, then calls members by the slots the library gives: each property written
// through its slot and read back by name through IDispatch, so a slot out of order shows.
TEST_F(ControlTest, TheLibrarysSlotsReachTheMembersTheirNamesDo) {
  CComPtr<ITypeInfo> dispatchHalf;
  ASSERT_EQ(dispatch_->GetTypeInfo(0, 0, &dispatchHalf), S_OK);
  HREFTYPE reference = 0;
  ASSERT_EQ(dispatchHalf->GetRefTypeOfImplType(~0u, &reference), S_OK);
  CComPtr<ITypeInfo> vtable;
  ASSERT_EQ(dispatchHalf->GetRefTypeInfo(reference, &vtable), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(vtable->GetTypeAttr(&attr), S_OK);
  const WORD functions = attr->cFuncs;
  vtable->ReleaseTypeAttr(attr);

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

// Sizes are checked and a sink of another interface is left unconnected; a full structure sites
// the control and connects the sink it was given.
TEST_F(ControlTest, QuickActivationChecksSizesThenSitesAndConnects) {
  CComPtr<IQuickActivate> quick;
  ASSERT_EQ(dispatch_->QueryInterface(IID_IQuickActivate, reinterpret_cast<void**>(&quick)), S_OK);
  CComPtr<IOleObject> ole;
  ASSERT_EQ(dispatch_->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole)), S_OK);
  CComPtr<RecordingSink> deaf;
  deaf.Attach(NewEventSink(false));
  QACONTAINER container{};
  container.cbSize = sizeof container;
  container.pUnkEventSink = deaf;
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
  EXPECT_EQ(deaf->References(), 1u) << "the refused sink is not held";

  CComPtr<TestContainerSite> site;
  site.Attach(new TestContainerSite(nullptr, RECT{0, 0, 640, 480}));
  CComPtr<RecordingSink> sink;
  sink.Attach(NewEventSink());
  container.cbSize = sizeof container;
  container.pClientSite = site;
  container.pUnkEventSink = sink;
  control.dwPropNotifyCookie = 99;  // stale: the answer is written whole
  ASSERT_EQ(quick->QuickActivate(&container, &control), S_OK);
  EXPECT_NE(control.dwEventCookie, 0u);
  EXPECT_EQ(control.dwPropNotifyCookie, 0u);
  CComPtr<IOleClientSite> sited;
  ASSERT_EQ(ole->GetClientSite(&sited), S_OK);
  EXPECT_EQ(sited.get(), static_cast<IOleClientSite*>(site.get()));
  control_->OnScreenSizeChanged(300, 200);
  ASSERT_EQ(sink->Calls().size(), 1u);
  EXPECT_EQ(sink->Calls().front().args, (std::vector<ULONG>{300, 200}));

  // The cookie is the connection point's: the container ends the connection with it.
  EXPECT_EQ(EventPoint(dispatch_)->Unadvise(control.dwEventCookie), S_OK);
  ole->SetClientSite(nullptr);
}

}  // namespace
}  // namespace kwz_test
