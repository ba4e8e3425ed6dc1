// What a container or a script learns of the control without showing it: properties and named
// settings called by name, the class information, the library's slots, and quick activation,
// which sites the control and connects the container's event sink in one call.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "tests/control/ControlTestSupport.h"

namespace kwz_test {
namespace {

TEST_F(ControlTest, TextPropertiesReadBackAsStoredAndPortsAsAtoiReadsThem) {
  const struct {
    const char16_t* property;
    const char16_t* put;
    const char16_t* readBack;
  } cases[] = {
      {u"ServerAddress", u"10.0.0.\u00e9", u"10.0.0.\u00e9"},
      {u"SourcePort", u"  60012 tail", u"60012"},
      {u"SourcePort", u"port 5", u"0"},
      {u"SourcePort", u"99999999999", u"2147483647"},
  };
  Script s = script();
  for (const auto& c : cases) {
    ASSERT_EQ(s.PutText(c.property, c.put).hr, S_OK) << Narrow(c.put);
    EXPECT_EQ(s.Get(c.property).text, c.readBack) << Narrow(c.put);
  }
  // A null BSTR is an empty text; a null result pointer is refused.
  EXPECT_EQ(control_->put_SourcePort(nullptr), S_OK);
  EXPECT_EQ(s.Get(u"SourcePort").text, u"0");
  EXPECT_EQ(control_->get_ServerAddress(nullptr), E_INVALIDARG);
}

// Each property's round trip is TheLibrarysSlotsReachTheMembersTheirNamesDo's.
TEST_F(ControlTest, NumberPropertiesStartAtTheirDefaults) {
  Script s = script();
  EXPECT_EQ(s.Get(u"DrawWidth").number, 800);
  EXPECT_EQ(s.Get(u"DrawHeight").number, 600);
  EXPECT_EQ(s.Get(u"BlockWidth").number, 0);
  EXPECT_EQ(s.Get(u"EnableStretch").number, 0);
}

// --- Named settings ---------------------------------------------------------------------------

struct SettingCase {
  const char16_t* key;
  const char16_t* value;
  HRESULT scode;  // S_OK: accepted; otherwise the member's result inside DISP_E_EXCEPTION
  const char16_t* tunnelAfter;
  const char16_t* reorderingAfter;
};

class NamedSettings : public ControlTest, public ::testing::WithParamInterface<SettingCase> {};

TEST_P(NamedSettings, AcceptOrRefuseAndKeepState) {
  Script s = script();
  // A known state first, so a refused value can be seen to change nothing.
  ASSERT_EQ(s.Call(u"SetProperties", {u"enable_tunnel", u"0"}).hr, S_OK);
  ASSERT_EQ(s.Call(u"SetProperties", {u"enable_pck_reordering", u"1 4"}).hr, S_OK);
  const ScriptResult set = s.Call(u"SetProperties", {GetParam().key, GetParam().value});
  EXPECT_EQ(set.hr, GetParam().scode == S_OK ? S_OK : DISP_E_EXCEPTION);
  EXPECT_EQ(set.scode, GetParam().scode);
  EXPECT_EQ(s.Call(u"GetProperties", {u"enable_tunnel"}).text, GetParam().tunnelAfter);
  EXPECT_EQ(s.Call(u"GetProperties", {u"enable_pck_reordering"}).text, GetParam().reorderingAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, NamedSettings,
    ::testing::Values(SettingCase{u"enable_tunnel", u"12abc", S_OK, u"1", u"1"},
                      SettingCase{u"enable_tunnel", u"abc", E_INVALIDARG, u"0", u"1"},
                      SettingCase{u"enable_pck_reordering", u"0 9", S_OK, u"0", u"0"},
                      SettingCase{u"enable_pck_reordering", u"0", E_INVALIDARG, u"0", u"1"},
                      // Exact keys only; a read-only key is as unknown to SetProperties as any.
                      SettingCase{u"Enable_Tunnel", u"1", DISP_E_EXCEPTION, u"0", u"1"},
                      SettingCase{u"video_pck_lost", u"1", DISP_E_EXCEPTION, u"0", u"1"}));

TEST_F(ControlTest, QueriesTakeTheFirstWordAndRefuseWhatIsNoKey) {
  const struct {
    std::u16string prop;
    HRESULT scode;
    const char16_t* answer;
  } cases[] = {
      {u"video_pck_lost", S_OK, u"0/0"},  // no engine yet
      {u"pck_lost", S_OK, u"0/0"},          {u"  enable_tunnel   extra", S_OK, u"0"},
      {u" \t ", E_INVALIDARG, u""},         {std::u16string(300, u'k'), E_INVALIDARG, u""},
      {u"PCK_LOST", DISP_E_EXCEPTION, u""},
  };
  for (const auto& c : cases) {
    const ScriptResult got = script().Call(u"GetProperties", {c.prop});
    EXPECT_EQ(got.hr, c.scode == S_OK ? S_OK : DISP_E_EXCEPTION) << Narrow(c.prop.c_str());
    EXPECT_EQ(got.scode, c.scode) << Narrow(c.prop.c_str());
    EXPECT_EQ(got.text, c.answer) << Narrow(c.prop.c_str());
  }
  ScopedBstr key(u"pck_lost");
  EXPECT_EQ(control_->GetProperties(key.value, nullptr), E_POINTER);
}

// An unknown key is described by name to the caller, through the error information too; so is
// an Init whose engine is handed the empty address (no group, SourceAddress never set).
TEST_F(ControlTest, UnknownKeysAndAFailedInitAreDescribed) {
  Script s = script();
  const ScriptResult set = s.Call(u"SetProperties", {u"snapshot_len", u"5"});
  ASSERT_EQ(set.hr, DISP_E_EXCEPTION);
  EXPECT_NE(set.description.find(u"snapshot_len"), std::u16string::npos);
  EXPECT_EQ(set.source, kScreenReceiverProgId);
  EXPECT_NE(s.Call(u"GetProperties", {u"ttl 3"}).description.find(u"ttl 3"), std::u16string::npos);
  ScopedBstr key(u"pair");
  ScopedBstr value(u"1 2");
  EXPECT_EQ(control_->SetProperties(key.value, value.value), DISP_E_EXCEPTION);
  CComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR description = nullptr;
  ASSERT_EQ(info->GetDescription(&description), S_OK);
  EXPECT_NE(TakeBstr(description).find(u"pair"), std::u16string::npos);

  UseHeadlessGdi();
  CreateWindow();
  const ScriptResult init = s.Call(u"Init");
  ASSERT_EQ(init.hr, DISP_E_EXCEPTION);
  EXPECT_FALSE(init.description.empty());
  // The engine is held but not initialised: Start does not run it, DeInit releases it; a second
  // Init fails the same way without leaking the first engine.
  ASSERT_NE(control_->Engine(), nullptr);
  EXPECT_EQ(s.Call(u"Start").hr, S_OK);
  EXPECT_FALSE(control_->Engine()->IsRunning());
  EXPECT_EQ(s.Call(u"Init").hr, DISP_E_EXCEPTION);
  EXPECT_EQ(s.Call(u"DeInit").hr, S_OK);
  EXPECT_EQ(control_->Engine(), nullptr);
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
    BSTR member = nullptr;
    ASSERT_EQ(vtable->GetDocumentation(memid, &member, nullptr, nullptr, nullptr), S_OK);
    const std::u16string name = TakeBstr(member);
    const ScriptResult got = script().Get(name.c_str());
    const std::u16string read =
        vt == VT_BSTR ? got.text : FormatWide(u"%ld", static_cast<LONG>(got.number));
    // EnableStretch reads back 1 for any value that is not 0; the rest as given.
    EXPECT_EQ(read, name == u"EnableStretch" ? u"1" : FormatWide(u"%ld", number))
        << Narrow(name.c_str());
  }
  EXPECT_EQ(properties, 9);
}

// What a container learns before it shows the control: the class information that names the
// control's events, then quick activation. Sizes are checked and a sink of another interface is
// left unconnected; a full structure sites the control and connects the sink it was given. The
// extent it sets is the one IOleObject reads.
TEST_F(ControlTest, ClassInfoThenQuickActivationThatSitesAndConnects) {
  // First, the class information that names the class and its events.
  CComPtr<IProvideClassInfo2> provide;
  ASSERT_EQ(dispatch_->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&provide)),
            S_OK);
  CComPtr<ITypeInfo> coclass;
  ASSERT_EQ(provide->GetClassInfo(&coclass), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualCLSID(attr->guid, CLSID_KWZ_ScreenReceiver));
  coclass->ReleaseTypeAttr(attr);
  GUID source{};
  ASSERT_EQ(provide->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
  EXPECT_TRUE(IsEqualIID(source, DIID__IKWZ_ScreenReceiverEvents));
  EXPECT_EQ(provide->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID + 1, &source), E_FAIL);

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
  ASSERT_EQ(quick->QuickActivate(&container, &control), S_OK);
  EXPECT_NE(control.dwEventCookie, 0u);
  CComPtr<IOleClientSite> sited;
  ASSERT_EQ(ole->GetClientSite(&sited), S_OK);
  EXPECT_EQ(sited.get(), static_cast<IOleClientSite*>(site.get()));
  control_->OnScreenSizeChanged(300, 200);
  ASSERT_EQ(sink->Calls().size(), 1u);
  EXPECT_EQ(sink->Calls().front().args, (std::vector<ULONG>{300, 200}));

  // The cookie is the connection point's: the container ends the connection with it.
  EXPECT_EQ(EventPoint(dispatch_)->Unadvise(control.dwEventCookie), S_OK);

  // One extent, whichever interface sets or reads it.
  SIZEL size{1234, 567}, read{};
  EXPECT_EQ(quick->SetContentExtent(&size), S_OK);
  EXPECT_EQ(ole->GetExtent(DVASPECT_CONTENT, &read), S_OK);
  EXPECT_EQ(read.cx, 1234);
  EXPECT_EQ(read.cy, 567);
  EXPECT_EQ(ole->SetExtent(DVASPECT_ICON, &size), DV_E_DVASPECT);
  ole->SetClientSite(nullptr);
}

}  // namespace
}  // namespace kwz_test
