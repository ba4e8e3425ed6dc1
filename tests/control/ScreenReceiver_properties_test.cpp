// Automation properties and named settings, called by name as a script calls them.
#include <gtest/gtest.h>

#include <string>

#include "tests/control/ControlTestSupport.h"
#include "tests/engine/PaintTestSupport.h"

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
  EXPECT_EQ(control_->get_DrawWidth(nullptr), E_INVALIDARG);
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
  EXPECT_EQ(init.source, kScreenReceiverProgId);
  // The engine is held but not initialised: Start does not run it, DeInit releases it; a second
  // Init fails the same way without leaking the first engine.
  ASSERT_NE(control_->Engine(), nullptr);
  EXPECT_EQ(s.Call(u"Start").hr, S_OK);
  EXPECT_FALSE(control_->Engine()->IsRunning());
  EXPECT_EQ(s.Call(u"Init").hr, DISP_E_EXCEPTION);
  EXPECT_EQ(s.Call(u"DeInit").hr, S_OK);
  EXPECT_EQ(control_->Engine(), nullptr);
}

}  // namespace
}  // namespace kwz_test
