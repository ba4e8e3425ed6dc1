#include <gtest/gtest.h>

#include <string>

#include "platform/shell.h"
#include "platform/widestring.h"
#include "platform/winerror.h"
#include "tests/support/ChildProcess.h"

namespace {

using kwz_test::ScopedEnv;

// The common application data folder follows ProgramData (the registry's and the exception
// log's tests set it); unset or empty it is /var/lib; other folders and overlong paths fail.
TEST(ShellFolders, CommonAppDataDefaultsAndRefusals) {
  for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
    ScopedEnv env("ProgramData", unset);
    char path[MAX_PATH] = "garbage";
    ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path), S_OK);
    EXPECT_STREQ(path, "/var/lib");
    WCHAR wide[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, wide), S_OK);
    EXPECT_EQ(Narrow(wide), "/var/lib");
  }
  char path[MAX_PATH];
  EXPECT_EQ(SHGetFolderPathA(nullptr, 0x001A, nullptr, 0, path), E_INVALIDARG);  // user AppData
  EXPECT_EQ(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, nullptr), E_INVALIDARG);
  std::string longPath = "/" + std::string(MAX_PATH, 'x');
  ScopedEnv env("ProgramData", longPath.c_str());
  EXPECT_EQ(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path), E_FAIL);
  EXPECT_STREQ(path, "");
}

}  // namespace
