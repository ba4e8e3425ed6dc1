// The registry where the registrar, the control module and kwz-regsvr do not reach: names,
// sizes and refusals, keys that hold others, the classes view, both processes writing at once,
// and stores that cannot be trusted or written.
#include "platform/winreg.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/winerror.h"
#include "tests/platform/RegistryTestSupport.h"
#include "tests/support/ChildProcess.h"

namespace {

using kwz_test::KeyExists;
using kwz_test::ReadText;
using kwz_test::ScopedRegistry;
using kwz_test::WriteText;

constexpr LONG kNotFound = ERROR_FILE_NOT_FOUND;

TEST(Registry, ValuesKeysAndRefusals) {
  ScopedRegistry registry;
  ASSERT_EQ(WriteText(HKEY_CURRENT_USER, u"Root\\Sub", u"Named", u"a \"quoted\"\\ line\nnext"),
            ERROR_SUCCESS);
  EXPECT_EQ(ReadText(HKEY_CURRENT_USER, u"ROOT\\sub", u"named"), "a \"quoted\"\\ line\nnext");
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"root\\SUB", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  // Too small a buffer reports the size it needs, NUL included.
  WCHAR small[4];
  DWORD size = sizeof small;
  EXPECT_EQ(
      RegQueryValueExW(key, u"Named", nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
      static_cast<LONG>(ERROR_MORE_DATA));
  EXPECT_EQ(size, (21u + 1u) * sizeof(WCHAR));
  EXPECT_EQ(RegDeleteValueW(key, u"NAMED"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key, u"named"), kNotFound);
  RegCloseKey(key);

  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"absent", 0, KEY_READ, &key), kNotFound);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u""), static_cast<LONG>(ERROR_ACCESS_DENIED));

  // HKEY_CLASSES_ROOT reads the user's key where it exists, else the machine's.
  for (HKEY store : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    const char16_t* text = store == HKEY_CURRENT_USER ? u"user" : u"machine";
    ASSERT_EQ(WriteText(store, u"Software\\Classes\\Shared", nullptr, text), ERROR_SUCCESS);
  }
  ASSERT_EQ(WriteText(HKEY_LOCAL_MACHINE, u"Software\\Classes\\M", nullptr, u"m"), ERROR_SUCCESS);
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"shared"), "user");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"M"), "m");
}

TEST(Registry, KeysEnumerateDeleteAndRefuseToLoseSubkeys) {
  ScopedRegistry registry;
  for (const char16_t* path : {u"Root\\b", u"Root\\A\\deep", u"Root\\c"}) {
    ASSERT_EQ(WriteText(HKEY_CURRENT_USER, path, nullptr, u"x"), ERROR_SUCCESS);
  }
  HKEY root = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Root", 0, KEY_READ, &root), ERROR_SUCCESS);
  std::string names;
  WCHAR name[16];
  for (DWORD index = 0, length = 16; RegEnumKeyExW(root, index, name, &length, nullptr, nullptr,
                                                   nullptr, nullptr) == ERROR_SUCCESS;
       ++index, length = 16) {
    names += Narrow(name);
  }
  EXPECT_EQ(names, "Abc");
  EXPECT_EQ(RegDeleteKeyW(root, u"A"), static_cast<LONG>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(RegDeleteTreeW(root, u"a"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeW(root, u"a"), kNotFound);
  // A null subkey empties the key itself but keeps it.
  EXPECT_EQ(RegDeleteTreeW(root, nullptr), ERROR_SUCCESS);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"Root"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"Root\\c"));
  // A handle to a key that another call removed fails instead of writing a ghost.
  ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Root"), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(root, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(u"late"), 10),
            static_cast<LONG>(ERROR_KEY_DELETED));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"Root"));
  RegCloseKey(root);
}

// Another process's changes are seen here, and two processes writing at once both land: each
// change is read, applied and renamed whole.
TEST(Registry, ChangesPersistAcrossProcesses) {
  ScopedRegistry registry;
  auto write = [](const char* who) {
    for (int i = 0; i < 40; ++i) {
      const std::u16string name = Widen((who + std::to_string(i)).c_str());
      if (WriteText(HKEY_LOCAL_MACHINE, u"Race", name.c_str(), u"1") != ERROR_SUCCESS) return 1;
    }
    return 0;
  };
  kwz_test::ChildProcess other([&](const kwz_test::ChildProcess::Channel&) { return write("c"); });
  ASSERT_EQ(write("p"), 0);
  ASSERT_EQ(other.Wait(), 0);
  for (int i = 0; i < 40; ++i) {
    for (const char* who : {"c", "p"}) {
      const std::u16string name = Widen((who + std::to_string(i)).c_str());
      EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, u"Race", name.c_str()), "1") << who << i;
    }
  }
}

// Stores that cannot be trusted are refused whole and never rewritten over; a temporary file
// that a crash left beside a store is not the store; a store whose folder cannot be made fails
// the change instead of dropping it.
struct BadStore {
  const char* name;
  const char* text;
};

class MalformedStore : public ::testing::TestWithParam<BadStore> {};

TEST_P(MalformedStore, GivesBadDbAndKeepsTheFile) {
  ScopedRegistry registry;
  ASSERT_EQ(WriteText(HKEY_CURRENT_USER, u"Software\\Classes\\Seed", nullptr, u"v"), ERROR_SUCCESS);
  std::ofstream(registry.UserFile(), std::ios::binary | std::ios::trunc) << GetParam().text;
  HKEY key = nullptr;
  EXPECT_EQ(WriteText(HKEY_CURRENT_USER, u"Other", nullptr, u"v"), static_cast<LONG>(ERROR_BADDB));
  // The merged classes view needs both stores.
  EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"Seed", 0, KEY_READ, &key),
            static_cast<LONG>(ERROR_BADDB));
  std::ostringstream text;
  text << std::ifstream(registry.UserFile(), std::ios::binary).rdbuf();
  EXPECT_EQ(text.str(), GetParam().text);
  EXPECT_EQ(WriteText(HKEY_LOCAL_MACHINE, u"Fine", nullptr, u"v"), ERROR_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(
    Stores, MalformedStore,
    ::testing::Values(
        // Cut short by a crash of another writer or a full disk.
        BadStore{"truncated", "KWZ-REGISTRY 1\n[Software]\n[Software\\Classes]\n"},
        BadStore{"empty", ""},
        BadStore{"foreign_header", "REGEDIT4\n[HKEY_CURRENT_USER\\Software]\nEND\n"},
        BadStore{"bad_escape", "KWZ-REGISTRY 1\n[K]\n\"n\"=\"a\\q\"\nEND\n"},
        BadStore{"after_end", "KWZ-REGISTRY 1\n[K]\nEND\n[L]\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Registry, LeftoverTemporaryFileAndUnwritableStore) {
  ScopedRegistry registry;
  ASSERT_EQ(WriteText(HKEY_CURRENT_USER, u"Kept", nullptr, u"before"), ERROR_SUCCESS);
  std::ofstream(registry.UserFile() + ".tmp") << "KWZ-REGISTRY 1\n[Kept]\n@=\"half wri";
  ASSERT_EQ(WriteText(HKEY_CURRENT_USER, u"Kept", u"more", u"after"), ERROR_SUCCESS);
  EXPECT_EQ(ReadText(HKEY_CURRENT_USER, u"Kept"), "before");
  EXPECT_EQ(ReadText(HKEY_CURRENT_USER, u"Kept", u"more"), "after");

  kwz_test::TempDir dir;
  const std::string blocker = std::string(dir.path()) + "/file";
  std::ofstream(blocker) << "not a folder";
  kwz_test::ScopedEnv machine("ProgramData", blocker.c_str());
  EXPECT_EQ(WriteText(HKEY_LOCAL_MACHINE, u"Lost", nullptr, u"v"),
            static_cast<LONG>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, u"Lost"));
}

}  // namespace
