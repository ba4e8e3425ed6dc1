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

// ForceRemove replaces what was there, a plain key is opened and kept.
TEST_F(RegistrarTest, RegistersWithReplacementsAndQuotedNames) {
  const char16_t* thing = u"Roots\\{11111111-2222-3333-4444-555555555555}";
  ASSERT_EQ(WriteText(HKEY_CLASSES_ROOT, u"Roots\\Stale\\Deep", nullptr, u"old"), ERROR_SUCCESS);
  ASSERT_EQ(
      WriteText(HKEY_CLASSES_ROOT, (std::u16string(thing) + u"\\Leftover").c_str(), nullptr, u"x"),
      ERROR_SUCCESS);
  ASSERT_EQ(WriteText(HKEY_CLASSES_ROOT, u"Roots\\Plain\\Mine", nullptr, u"x"), ERROR_SUCCESS);
  ASSERT_EQ(registrar_.StringRegister(kScript), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, (std::u16string(thing) + u"\\Leftover").c_str()));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"Roots\\Plain\\Mine"));
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
};

class RegistrarParseError : public RegistrarTest,
                            public ::testing::WithParamInterface<BadScript> {};

TEST_P(RegistrarParseError, FailsCleanlyAndChangesNothing) {
  ASSERT_EQ(WriteText(HKEY_CLASSES_ROOT, u"Existing", nullptr, u"kept"), ERROR_SUCCESS);
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(registrar_.StringRegister(GetParam().script), DISP_E_EXCEPTION);
  EXPECT_FALSE(ErrorDescription().empty()) << "the failure is described";
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"Early"));
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"Existing"), "kept");
  EXPECT_EQ(registrar_.StringUnregister(GetParam().script), DISP_E_EXCEPTION);
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"Existing"), "kept");
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, RegistrarParseError,
    ::testing::Values(BadScript{"unknown_root", u"HKXX { Early }"},
                      BadScript{"missing_brace", u"HKCR { Early = s 'x' { Inner }"},
                      BadScript{"root_without_block", u"HKCR Early"},
                      BadScript{"unterminated_quote", u"HKCR { Early = s 'x }"},
                      BadScript{"unsupported_type", u"HKCR { Early = d '5' }"},
                      BadScript{"value_without_text", u"HKCR { Early { val Name = s } }"},
                      BadScript{"value_at_top", u"HKCR { val Name = s 'x' }"},
                      BadScript{"unknown_replacement", u"HKCR { Early = s '%NOPE%' }"},
                      BadScript{"lone_percent", u"HKCR { Early = s '50%' }"},
                      BadScript{"stray_equals", u"HKCR { = s 'x' }"},
                      BadScript{"error_late_in_script", u"HKCR { Early = s 'x' }\nHKCR { Broken "}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
