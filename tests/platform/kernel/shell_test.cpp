#include <gtest/gtest.h>

#include <string>

#include "platform/shell.h"
#include "platform/winerror.h"
#include "tests/support/ChildProcess.h"

namespace {

using kwz_test::ScopedEnv;

// The common application data folder follows ProgramData (the registry's and the exception
// log's tests set it); unset or empty it is /var/lib; an overlong path fails.
TEST(ShellFolders, CommonAppDataDefaultsAndOverlongPath) {
  for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
    ScopedEnv env("ProgramData", unset);
    char path[MAX_PATH] = "garbage";
    ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path), S_OK);
    EXPECT_STREQ(path, "/var/lib");
  }
  char path[MAX_PATH];
  std::string longPath = "/" + std::string(MAX_PATH, 'x');
  ScopedEnv env("ProgramData", longPath.c_str());
  EXPECT_EQ(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path), E_FAIL);
  EXPECT_STREQ(path, "");
}

}  // namespace
