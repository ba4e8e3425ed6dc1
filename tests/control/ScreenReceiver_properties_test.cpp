// Automation properties and named settings, called by name as a script calls them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/control/ControlTestSupport.h"
#include "tests/support/ChildProcess.h"

namespace kwz_test {
namespace {

struct TextCase {
  const char16_t* property;
  const char16_t* put;
  const char16_t* readBack;
};

class TextProperties : public ControlTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(TextProperties, ReadBackAsStored) {
  Script s = script();
  ASSERT_EQ(s.PutText(GetParam().property, GetParam().put).hr, S_OK);
  const ScriptResult got = s.Get(GetParam().property);
  ASSERT_EQ(got.hr, S_OK);
  EXPECT_EQ(got.text, GetParam().readBack);
}

INSTANTIATE_TEST_SUITE_P(
    PortsAndAddresses, TextProperties,
    ::testing::Values(TextCase{u"SourceAddress", u"127.0.0.1", u"127.0.0.1"},
                      TextCase{u"SourceAddress", u"", u""},
                      TextCase{u"ServerAddress", u"10.0.0.\u00e9", u"10.0.0.\u00e9"},
                      // Ports are read as atoi reads them and travel back as text.
                      TextCase{u"SourcePort", u"60010", u"60010"},
                      TextCase{u"SourcePort", u"  60012 tail", u"60012"},
                      TextCase{u"SourcePort", u"port 5", u"0"},
                      TextCase{u"SourcePort", u"-7", u"-7"},
                      TextCase{u"SourcePort", u"99999999999", u"2147483647"},
                      TextCase{u"ServerPort", u"+8000", u"8000"},
                      TextCase{u"ServerPort", u"", u"0"}));

TEST_F(ControlTest, NumberPropertiesStartAtTheirDefaultsAndRoundTrip) {
  Script s = script();
  EXPECT_EQ(s.Get(u"DrawWidth").number, 800);
  EXPECT_EQ(s.Get(u"DrawHeight").number, 600);
  EXPECT_EQ(s.Get(u"BlockWidth").number, 0);
  EXPECT_EQ(s.Get(u"EnableStretch").number, 0);
  EXPECT_EQ(s.Get(u"SourcePort").text, u"0");
  for (const char16_t* name : {u"DrawWidth", u"DrawHeight", u"BlockWidth", u"BlockHeight"}) {
    ASSERT_EQ(s.PutNumber(name, -321).hr, S_OK) << Narrow(name);
    EXPECT_EQ(s.Get(name).number, -321) << Narrow(name);
  }
  // Stretching is a flag: any non-zero value reads back as 1, not as VARIANT_TRUE.
  ASSERT_EQ(s.PutNumber(u"EnableStretch", 5).hr, S_OK);
  EXPECT_EQ(s.Get(u"EnableStretch").number, 1);
  ASSERT_EQ(s.PutNumber(u"EnableStretch", 0).hr, S_OK);
  EXPECT_EQ(s.Get(u"EnableStretch").number, 0);
}

TEST_F(ControlTest, GettersRefuseANullResultPointer) {
  IKWZ_ScreenReceiver* c = control_;
  EXPECT_EQ(c->get_SourceAddress(nullptr), E_INVALIDARG);
  EXPECT_EQ(c->get_SourcePort(nullptr), E_INVALIDARG);
  EXPECT_EQ(c->get_ServerAddress(nullptr), E_INVALIDARG);
  EXPECT_EQ(c->get_ServerPort(nullptr), E_INVALIDARG);
  EXPECT_EQ(c->get_DrawWidth(nullptr), E_INVALIDARG);
  EXPECT_EQ(c->get_EnableStretch(nullptr), E_INVALIDARG);
  EXPECT_EQ(c->get_BlockHeight(nullptr), E_INVALIDARG);
  // A null BSTR is an empty text for the setters.
  EXPECT_EQ(c->put_SourceAddress(nullptr), S_OK);
  EXPECT_EQ(c->put_SourcePort(nullptr), S_OK);
  EXPECT_EQ(script().Get(u"SourcePort").text, u"0");
}

TEST_F(ControlTest, MembersCarryTheirDispidsAndHelpStrings) {
  Script s = script();
  EXPECT_EQ(s.Id(u"Init"), 1);
  EXPECT_EQ(s.Id(u"SourcePort"), 6);
  EXPECT_EQ(s.Id(u"LeaveMulticastGroup"), 10);
  EXPECT_EQ(s.Id(u"EnableStretch"), 15);
  EXPECT_EQ(s.Id(u"GetProperties"), 19);
  CComPtr<ITypeInfo> info;
  ASSERT_EQ(dispatch_->GetTypeInfo(0, 0, &info), S_OK);
  BSTR name = nullptr;
  BSTR doc = nullptr;
  ASSERT_EQ(info->GetDocumentation(18, &name, &doc, nullptr, nullptr), S_OK);
  EXPECT_EQ(TakeBstr(name), u"SetProperties");
  EXPECT_EQ(TakeBstr(doc), u"method set properties");
  EXPECT_EQ(control_->InterfaceSupportsErrorInfo(IID_IKWZ_ScreenReceiver), S_OK);
  EXPECT_EQ(control_->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
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
  if (GetParam().scode == S_OK) {
    EXPECT_EQ(set.hr, S_OK);
  } else {
    EXPECT_EQ(set.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(set.scode, GetParam().scode);
  }
  EXPECT_EQ(s.Call(u"GetProperties", {u"enable_tunnel"}).text, GetParam().tunnelAfter);
  EXPECT_EQ(s.Call(u"GetProperties", {u"enable_pck_reordering"}).text, GetParam().reorderingAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, NamedSettings,
    ::testing::Values(SettingCase{u"enable_tunnel", u"12abc", S_OK, u"1", u"1"},
                      SettingCase{u"enable_tunnel", u"  0", S_OK, u"0", u"1"},
                      SettingCase{u"enable_tunnel", u"abc", E_INVALIDARG, u"0", u"1"},
                      SettingCase{u"enable_tunnel", u"", E_INVALIDARG, u"0", u"1"},
                      SettingCase{u"enable_pck_reordering", u"0 9", S_OK, u"0", u"0"},
                      SettingCase{u"enable_pck_reordering", u"3\t-1", S_OK, u"0", u"1"},
                      SettingCase{u"enable_pck_reordering", u"0", E_INVALIDARG, u"0", u"1"},
                      SettingCase{u"enable_pck_reordering", u"0 x", E_INVALIDARG, u"0", u"1"},
                      // Exact keys only; a key of the table that this control does not handle
                      // is as unknown as a name outside it.
                      SettingCase{u"Enable_Tunnel", u"1", DISP_E_EXCEPTION, u"0", u"1"},
                      SettingCase{u"enable_tunnel ", u"1", DISP_E_EXCEPTION, u"0", u"1"},
                      SettingCase{u"draw_logo", u"1", DISP_E_EXCEPTION, u"0", u"1"},
                      SettingCase{u"video_pck_lost", u"1", DISP_E_EXCEPTION, u"0", u"1"},
                      SettingCase{u"", u"1", DISP_E_EXCEPTION, u"0", u"1"}));

struct QueryCase {
  const char16_t* prop;
  HRESULT scode;
  const char16_t* answer;
};

class NamedQueries : public ControlTest, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(NamedQueries, AnswerOrRefuse) {
  const ScriptResult got = script().Call(u"GetProperties", {GetParam().prop});
  if (GetParam().scode == S_OK) {
    ASSERT_EQ(got.hr, S_OK) << Narrow(got.description.c_str());
    EXPECT_EQ(got.text, GetParam().answer);
  } else {
    EXPECT_EQ(got.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(got.scode, GetParam().scode);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, NamedQueries,
    ::testing::Values(QueryCase{u"pck_lost", S_OK, u"0/0"},
                      QueryCase{u"video_pck_lost", S_OK, u"0/0"},  // no engine yet
                      QueryCase{u"enable_pck_reordering", S_OK, u"1"},
                      QueryCase{u"enable_tunnel", S_OK, u"0"},
                      QueryCase{u"  enable_tunnel   extra", S_OK, u"0"},
                      QueryCase{u"enable_tunnel\n", S_OK, u"0"}, QueryCase{u"", E_INVALIDARG, u""},
                      QueryCase{u" \t ", E_INVALIDARG, u""},
                      QueryCase{u"draw_logo", DISP_E_EXCEPTION, u""},
                      QueryCase{u"PCK_LOST", DISP_E_EXCEPTION, u""}));

TEST_F(ControlTest, QueryWithoutResultPointerFailsAfterTheKeyIsKnown) {
  ScopedBstr key(u"pck_lost");
  EXPECT_EQ(control_->GetProperties(key.value, nullptr), E_POINTER);
  ScopedBstr unknown(u"snapshot");
  EXPECT_EQ(control_->GetProperties(unknown.value, nullptr), DISP_E_EXCEPTION);
}

TEST_F(ControlTest, OverlongQueryWordIsRefused) {
  const std::u16string longWord(300, u'k');
  const ScriptResult got = script().Call(u"GetProperties", {longWord});
  EXPECT_EQ(got.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(got.scode, E_INVALIDARG);
}

// The error description of an unknown key, line by line, its error information, and the entry
// it leaves in the diagnostic log.
TEST_F(ControlTest, UnknownKeyIsDescribedAndLogged) {
  TempDir appData;
  ScopedEnv env("ProgramData", appData.path());
  const std::string folder = std::string(appData.path()) + "/Orvana/Client/Log";
  std::filesystem::create_directories(folder);

  const ScriptResult set = script().Call(u"SetProperties", {u"snapshot_len", u"5"});
  ASSERT_EQ(set.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(set.scode, DISP_E_EXCEPTION);
  EXPECT_EQ(set.description,
            u"Unknown property : snapshot_len\nscreen_receiver\n.\\ScreenReceiver(723)\n"
            u"0x00000000 \n");
  EXPECT_EQ(set.source, kScreenReceiverProgId);

  const ScriptResult bad = script().Call(u"SetProperties", {u"enable_tunnel", u"x"});
  EXPECT_EQ(bad.description,
            u"Set property error: enable_tunnel\nscreen_receiver\n.\\ScreenReceiver(705)\n"
            u"0x80070057 E_INVALIDARG\n");
  const ScriptResult query = script().Call(u"GetProperties", {u"ttl 3"});
  EXPECT_EQ(query.description,
            u"Unknown property : ttl 3\nscreen_receiver\n.\\ScreenReceiver(770)\n0x00000000 \n");

  // The control's own call leaves the error information for the caller to fetch.
  ScopedBstr key(u"pair");
  ScopedBstr value(u"1 2");
  EXPECT_EQ(control_->SetProperties(key.value, value.value), DISP_E_EXCEPTION);
  CComPtr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  GUID guid{};
  ASSERT_EQ(info->GetGUID(&guid), S_OK);
  EXPECT_TRUE(IsEqualGUID(guid, CLSID_KWZ_ScreenReceiver));

  std::ifstream log(folder + "/kwz_debug.txt");
  std::stringstream content;
  content << log.rdbuf();
  const std::string text = content.str();
  // The log is a text file with CR LF line ends.
  EXPECT_NE(text.find(" [Exception]\r\nUnknown property : snapshot_len\r\nscreen_receiver\r\n"
                      ".\\ScreenReceiver(723)\r\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Unknown property : pair\r\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace kwz_test
