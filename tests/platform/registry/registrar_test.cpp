// The registrar's script where the control's own scripts do not reach: a ForceRemove key
// replacing what was there, escapes, Delete, what unregistration leaves, and scripts refused.
#include "platform/registrar.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/com_ptr.h"
#include "platform/oleauto.h"
#include "platform/widestring.h"
#include "platform/winerror.h"
#include "tests/platform/RegistryTestSupport.h"

namespace {

using kwz_test::KeyExists;
using kwz_test::ReadText;
using kwz_test::WriteText;

constexpr const char16_t* kScript =
    uR"(HKCR
{
	NoRemove Roots
	{
		ForceRemove Thing = s 'Thing Class'
		{
			'Quoted ''name''' = s '100%% sure'
		}
		Plain = s '%MODULE%'
		Delete Stale
		val Marker = s 'm'
	}
}
)";

class RegistrarTest : public ::testing::Test {
 protected:
  RegistrarTest() { registrar_.AddReplacement(u"MODULE", u"/opt/thing.so"); }
  kwz_test::ScopedRegistry registry_;
  CRegObject registrar_;
};

TEST_F(RegistrarTest, RegistersOverWhatWasThereAndUnregistersOnlyItsOwn) {
  for (const char16_t* path : {u"Roots\\Stale\\Deep", u"Roots\\Thing\\Leftover",
                               u"Roots\\Plain\\Mine", u"Roots\\Neighbour"}) {
    ASSERT_EQ(WriteText(HKEY_CLASSES_ROOT, path, nullptr, u"x"), ERROR_SUCCESS);
  }
  ASSERT_EQ(registrar_.StringRegister(kScript), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"Roots\\Thing\\Leftover"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"Roots\\Plain\\Mine"));
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"Roots\\Thing\\Quoted 'name'"), "100% sure");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"Roots\\Plain"), "/opt/thing.so");
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"Roots\\Stale"));

  ASSERT_EQ(WriteText(HKEY_CLASSES_ROOT, u"Roots", u"Other", u"stays"), ERROR_SUCCESS);
  ASSERT_EQ(registrar_.StringUnregister(kScript), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"Roots\\Thing"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"Roots\\Plain"));
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"Roots", u"Marker"), "<absent>");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"Roots", u"Other"), "stays");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"Roots\\Neighbour"), "x");
  EXPECT_EQ(registrar_.StringUnregister(kScript), S_OK) << "what is gone is no failure";
}

// Scripts that must fail, described, before touching the registry.
class RegistrarParseError : public RegistrarTest,
                            public ::testing::WithParamInterface<const char16_t*> {};

TEST_P(RegistrarParseError, FailsCleanlyAndChangesNothing) {
  ASSERT_EQ(WriteText(HKEY_CLASSES_ROOT, u"Existing", nullptr, u"kept"), ERROR_SUCCESS);
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(registrar_.StringRegister(GetParam()), DISP_E_EXCEPTION);
  CComPtr<IErrorInfo> info;
  EXPECT_EQ(GetErrorInfo(0, &info), S_OK) << "the failure is described";
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"Early"));
  EXPECT_EQ(registrar_.StringUnregister(GetParam()), DISP_E_EXCEPTION);
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"Existing"), "kept");
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, RegistrarParseError,
    ::testing::Values(u"HKXX { Early }", u"HKCR { Early = s 'x' { Inner }", u"HKCR Early",
                      u"HKCR { Early = s 'x }", u"HKCR { Early = d '5' }",
                      u"HKCR { Early { val Name = s } }", u"HKCR { val Name = s 'x' }",
                      u"HKCR { Early = s '%NOPE%' }", u"HKCR { Early = s '50%' }",
                      u"HKCR { = s 'x' }", u"HKCR { Early = s 'x' }\nHKCR { Broken "));

}  // namespace
