#include "platform/registrar.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/oleauto.h"
#include "platform/widestring.h"
#include "platform/winerror.h"
#include "tests/platform/RegistryTestSupport.h"

namespace {

using kwz_test::KeyExists;
using kwz_test::ReadText;
using kwz_test::ScopedRegistry;
using kwz_test::WriteText;

constexpr const char16_t* kScript =
    uR"(HKCR
{
	NoRemove Roots
	{
		ForceRemove {11111111-2222-3333-4444-555555555555} = s 'Thing Class'
		{
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
			}
			'Quoted ''name''' = s '100%% sure'
			Control
		}
		Plain = s 'plain'
		{
			Child
		}
		Delete Stale
		val Marker = s '%MISC%'
	}
}
)";

std::string ErrorDescription() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || info == nullptr) return "";
  BSTR text = nullptr;
  info->GetDescription(&text);
  info->Release();
  std::string out = text != nullptr ? Narrow(text) : "";
  SysFreeString(text);
  return out;
}

class RegistrarTest : public ::testing::Test {
 protected:
  RegistrarTest() {
    registrar_.AddReplacement(u"MODULE", u"/opt/thing.so");
    registrar_.AddReplacement(u"MISC", u"131473");
  }
  ScopedRegistry registry_;
  CRegObject registrar_;
};

TEST_F(RegistrarTest, RegistersWithReplacementsAndQuotedNames) {
  ASSERT_EQ(WriteText(HKEY_CLASSES_ROOT, u"Roots\\Stale\\Deep", nullptr, u"old"), ERROR_SUCCESS);
  ASSERT_EQ(registrar_.StringRegister(kScript), S_OK);
  const char16_t* thing = u"Roots\\{11111111-2222-3333-4444-555555555555}";
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, thing), "Thing Class");
  const std::u16string server = std::u16string(thing) + u"\\InprocServer32";
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, server.c_str()), "/opt/thing.so");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, server.c_str(), u"ThreadingModel"), "Apartment");
  const std::u16string quoted = std::u16string(thing) + u"\\Quoted 'name'";
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, quoted.c_str()), "100% sure");
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, (std::u16string(thing) + u"\\Control").c_str()));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"Roots\\Plain\\Child"));
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"Roots", u"Marker"), "131473");
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"Roots\\Stale"));
}

TEST_F(RegistrarTest, ForceRemoveReplacesWhatWasThere) {
  const char16_t* extra = u"Roots\\{11111111-2222-3333-4444-555555555555}\\Leftover";
  ASSERT_EQ(WriteText(HKEY_CLASSES_ROOT, extra, nullptr, u"x"), ERROR_SUCCESS);
  ASSERT_EQ(WriteText(HKEY_CLASSES_ROOT, u"Roots\\Plain\\Mine", nullptr, u"x"), ERROR_SUCCESS);
  ASSERT_EQ(registrar_.StringRegister(kScript), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, extra));
  // A plain key is opened, not replaced.
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"Roots\\Plain\\Mine"));
}

TEST_F(RegistrarTest, UnregisterRemovesAllButNoRemoveKeys) {
  ASSERT_EQ(WriteText(HKEY_CLASSES_ROOT, u"Roots\\Neighbour", nullptr, u"stays"), ERROR_SUCCESS);
  ASSERT_EQ(registrar_.StringRegister(kScript), S_OK);
  ASSERT_EQ(WriteText(HKEY_CLASSES_ROOT, u"Roots", u"Other", u"stays"), ERROR_SUCCESS);
  ASSERT_EQ(registrar_.StringUnregister(kScript), S_OK);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"Roots"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"Roots\\{11111111-2222-3333-4444-555555555555}"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"Roots\\Plain"));
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"Roots", u"Marker"), "<absent>");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"Roots", u"Other"), "stays");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"Roots\\Neighbour"), "stays");
  // Twice is fine: what is gone is no failure.
  EXPECT_EQ(registrar_.StringUnregister(kScript), S_OK);
}

TEST_F(RegistrarTest, PerUserRegistrationWritesTheUsersClasses) {
  ASSERT_EQ(AtlSetPerUserRegistration(true), S_OK);
  const HRESULT hr = registrar_.StringRegister(kScript);
  AtlSetPerUserRegistration(false);
  ASSERT_EQ(hr, S_OK);
  EXPECT_EQ(ReadText(HKEY_CURRENT_USER, u"Software\\Classes\\Roots\\Plain"), "plain");
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, u"Software\\Classes\\Roots"));
}

// The user's store holding a root of the same name must not pull a machine-wide registration
// into it, as writing through the merged view would.
TEST_F(RegistrarTest, MachineWideRegistrationIgnoresTheUsersKeys) {
  ASSERT_EQ(WriteText(HKEY_CURRENT_USER, u"Software\\Classes\\Roots", nullptr, u"user"),
            ERROR_SUCCESS);
  ASSERT_EQ(registrar_.StringRegister(kScript), S_OK);
  EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, u"Software\\Classes\\Roots\\Plain"), "plain");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"Software\\Classes\\Roots\\Plain"));
  ASSERT_EQ(registrar_.StringUnregister(kScript), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, u"Software\\Classes\\Roots\\Plain"));
  EXPECT_EQ(ReadText(HKEY_CURRENT_USER, u"Software\\Classes\\Roots"), "user");
}

// Scripts that must fail before touching the registry.
struct BadScript {
  const char* name;
  const char16_t* script;
  const char* reason;  // part of the error description
};

class RegistrarParseError : public RegistrarTest,
                            public ::testing::WithParamInterface<BadScript> {};

TEST_P(RegistrarParseError, FailsCleanlyAndChangesNothing) {
  ASSERT_EQ(WriteText(HKEY_CLASSES_ROOT, u"Existing", nullptr, u"kept"), ERROR_SUCCESS);
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(registrar_.StringRegister(GetParam().script), DISP_E_EXCEPTION);
  const std::string description = ErrorDescription();
  EXPECT_NE(description.find(GetParam().reason), std::string::npos) << description;
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"Early"));
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"Existing"), "kept");
  EXPECT_EQ(registrar_.StringUnregister(GetParam().script), DISP_E_EXCEPTION);
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"Existing"), "kept");
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, RegistrarParseError,
    ::testing::Values(
        BadScript{"unknown_root", u"HKXX { Early }", "unknown root key"},
        BadScript{"missing_brace", u"HKCR { Early = s 'x' { Inner }", "'}' expected"},
        BadScript{"root_without_block", u"HKCR Early", "'{' expected"},
        BadScript{"unterminated_quote", u"HKCR { Early = s 'x }", "unterminated"},
        BadScript{"unsupported_type", u"HKCR { Early = d '5' }", "unsupported value type"},
        BadScript{"value_without_text", u"HKCR { Early { val Name = s } }", "quoted text"},
        BadScript{"value_at_top", u"HKCR { val Name = s 'x' }", "outside a key"},
        BadScript{"unknown_replacement", u"HKCR { Early = s '%NOPE%' }", "%NOPE%"},
        BadScript{"lone_percent", u"HKCR { Early = s '50%' }", "unmatched"},
        BadScript{"stray_equals", u"HKCR { = s 'x' }", "key name expected"},
        BadScript{"error_late_in_script",
                  u"HKCR { Early = s 'x' }\nHKCR { Later = s 'y' }\nHKCR { Broken ", "line 3"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
