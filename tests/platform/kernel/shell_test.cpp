#include <gtest/gtest.h>

#include <string>

#include "platform/shell.h"
#include "platform/widestring.h"
#include "platform/winerror.h"
#include "tests/support/ChildProcess.h"

namespace {

using kwz_test::ScopedEnv;

struct FolderCase {
  const char* name;
  const char* programData;  // null: unset
  const char* expected;
};

class CommonAppData : public ::testing::TestWithParam<FolderCase> {};

TEST_P(CommonAppData, FollowsProgramData) {
  ScopedEnv env("ProgramData", GetParam().programData);
  char path[MAX_PATH] = "garbage";
  ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path), S_OK);
  EXPECT_STREQ(path, GetParam().expected);
  WCHAR wide[MAX_PATH];
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, wide), S_OK);
  EXPECT_EQ(Narrow(wide), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Folders, CommonAppData,
                         ::testing::Values(FolderCase{"unset", nullptr, "/var/lib"},
                                           FolderCase{"empty", "", "/var/lib"},
                                           FolderCase{"set", "/tmp/pd", "/tmp/pd"}),
                         [](const auto& info) { return info.param.name; });

TEST(ShellFolders, OtherFoldersAndOverlongPathsFail) {
  char path[MAX_PATH];
  EXPECT_EQ(SHGetFolderPathA(nullptr, 0x001A, nullptr, 0, path), E_INVALIDARG);  // user AppData
  EXPECT_EQ(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, nullptr), E_INVALIDARG);
  std::string longPath = "/" + std::string(MAX_PATH, 'x');
  ScopedEnv env("ProgramData", longPath.c_str());
  EXPECT_EQ(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path), E_FAIL);
  EXPECT_STREQ(path, "");
}

}  // namespace
