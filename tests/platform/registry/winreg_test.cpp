#include "platform/winreg.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/winerror.h"
#include "tests/platform/RegistryTestSupport.h"
#include "tests/support/ChildProcess.h"

namespace {

using kwz_test::ChildProcess;
using kwz_test::KeyExists;
using kwz_test::ReadText;
using kwz_test::ScopedRegistry;
using kwz_test::WriteText;

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

TEST(Registry, ValuesRoundTripWithCaseInsensitiveNames) {
  ScopedRegistry registry;
  ASSERT_EQ(WriteText(HKEY_CURRENT_USER, u"Software\\Kwz\\Sub", nullptr, u"default text"),
            ERROR_SUCCESS);
  ASSERT_EQ(
      WriteText(HKEY_CURRENT_USER, u"Software\\Kwz\\Sub", u"Named", u"a \"quoted\"\\ line\nnext"),
      ERROR_SUCCESS);
  EXPECT_EQ(ReadText(HKEY_CURRENT_USER, u"SOFTWARE\\kwz\\sub"), "default text");
  EXPECT_EQ(ReadText(HKEY_CURRENT_USER, u"Software\\Kwz\\Sub", u"named"),
            "a \"quoted\"\\ line\nnext");
  EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, u"Software\\Kwz\\Sub"), "<absent>");

  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"software\\KWZ\\SUB", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  // Too small a buffer reports the size it needs, NUL included.
  WCHAR small[4];
  DWORD size = sizeof small;
  EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
            static_cast<LONG>(ERROR_MORE_DATA));
  EXPECT_EQ(size, (12u + 1u) * sizeof(WCHAR));
  EXPECT_EQ(RegSetValueExW(key, u"n", 0, 4 /* REG_DWORD */, nullptr, 0),
            static_cast<LONG>(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(RegDeleteValueW(key, u"NAMED"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key, u"named"), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  RegCloseKey(key);
  EXPECT_EQ(ReadText(HKEY_CURRENT_USER, u"Software\\Kwz\\Sub", u"Named"), "<absent>");
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
  DWORD index = 0;
  for (;; ++index) {
    DWORD length = 16;
    const LONG status =
        RegEnumKeyExW(root, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == static_cast<LONG>(ERROR_NO_MORE_ITEMS)) break;
    ASSERT_EQ(status, ERROR_SUCCESS);
    EXPECT_EQ(length, 1u);
    names += Narrow(name);
  }
  EXPECT_EQ(names, "Abc");
  DWORD tiny = 1;
  EXPECT_EQ(RegEnumKeyExW(root, 0, name, &tiny, nullptr, nullptr, nullptr, nullptr),
            static_cast<LONG>(ERROR_MORE_DATA));

  EXPECT_EQ(RegDeleteKeyW(root, u"A"), static_cast<LONG>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"Root\\A\\deep"));
  EXPECT_EQ(RegDeleteKeyW(root, u"b"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeW(root, u"a"), ERROR_SUCCESS);
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"Root\\A"));
  EXPECT_EQ(RegDeleteTreeW(root, u"a"), static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  // A null subkey empties the key itself but keeps it.
  EXPECT_EQ(RegDeleteTreeW(root, nullptr), ERROR_SUCCESS);
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"Root"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"Root\\c"));
  // A handle to a key that another call removed fails instead of writing a ghost.
  ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Root"), ERROR_SUCCESS);
  const std::u16string text = u"late";
  EXPECT_EQ(
      RegSetValueExW(root, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), 10),
      static_cast<LONG>(ERROR_KEY_DELETED));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"Root"));
  RegCloseKey(root);
}

TEST(Registry, ChangesPersistAcrossProcesses) {
  ScopedRegistry registry;
  // Another process's changes are seen here, and two processes writing at once both land: each
  // change is read, applied and renamed whole.
  ChildProcess other([](const ChildProcess::Channel&) {
    for (int i = 0; i < 40; ++i) {
      const std::u16string name = u"c" + Widen(std::to_string(i).c_str());
      if (WriteText(HKEY_LOCAL_MACHINE, u"Software\\Race", name.c_str(), u"1") != ERROR_SUCCESS) {
        return 1;
      }
    }
    return 0;
  });
  for (int i = 0; i < 40; ++i) {
    const std::u16string name = u"p" + Widen(std::to_string(i).c_str());
    ASSERT_EQ(WriteText(HKEY_LOCAL_MACHINE, u"Software\\Race", name.c_str(), u"1"), ERROR_SUCCESS);
  }
  ASSERT_EQ(other.Wait(), 0);
  for (int i = 0; i < 40; ++i) {
    for (const char* who : {"c", "p"}) {
      const std::u16string name = Widen((who + std::to_string(i)).c_str());
      EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, u"Software\\Race", name.c_str()), "1") << who << i;
    }
  }
}

// A crash while writing leaves a temporary file beside the store; the store is what was last
// renamed into place, and the next change replaces the leftover.
TEST(Registry, LeftoverTemporaryFileDoesNotLoseTheStore) {
  ScopedRegistry registry;
  ASSERT_EQ(WriteText(HKEY_CURRENT_USER, u"Kept", nullptr, u"before"), ERROR_SUCCESS);
  WriteFile(registry.UserFile() + ".tmp", "KWZ-REGISTRY 1\n[Kept]\n@=\"half wri");
  EXPECT_EQ(ReadText(HKEY_CURRENT_USER, u"Kept"), "before");
  ASSERT_EQ(WriteText(HKEY_CURRENT_USER, u"Kept", u"more", u"after"), ERROR_SUCCESS);
  EXPECT_EQ(ReadText(HKEY_CURRENT_USER, u"Kept"), "before");
  EXPECT_EQ(ReadText(HKEY_CURRENT_USER, u"Kept", u"more"), "after");
}

// Store files that cannot be trusted are refused whole, and never rewritten over.
struct BadStore {
  const char* name;
  const char* text;
};

class MalformedStore : public ::testing::TestWithParam<BadStore> {};

TEST_P(MalformedStore, GivesBadDbAndKeepsTheFile) {
  ScopedRegistry registry;
  ASSERT_EQ(WriteText(HKEY_CURRENT_USER, u"Software\\Classes\\Seed", nullptr, u"v"), ERROR_SUCCESS);
  WriteFile(registry.UserFile(), GetParam().text);
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software", 0, KEY_READ, &key),
            static_cast<LONG>(ERROR_BADDB));
  EXPECT_EQ(WriteText(HKEY_CURRENT_USER, u"Other", nullptr, u"v"), static_cast<LONG>(ERROR_BADDB));
  // The merged classes view needs both stores.
  EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u"Seed", 0, KEY_READ, &key),
            static_cast<LONG>(ERROR_BADDB));
  EXPECT_EQ(FileText(registry.UserFile()), GetParam().text);
  // The machine's store is not the user's problem.
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

// HKEY_CLASSES_ROOT: the user's key wins where it exists; new keys go to the machine unless the
// user's store holds the nearest existing level; enumeration lists both.
TEST(Registry, ClassesRootMergesUserOverMachine) {
  ScopedRegistry registry;
  ASSERT_EQ(WriteText(HKEY_LOCAL_MACHINE, u"Software\\Classes\\Shared", nullptr, u"machine"),
            ERROR_SUCCESS);
  ASSERT_EQ(WriteText(HKEY_LOCAL_MACHINE, u"Software\\Classes\\MachineOnly", nullptr, u"m"),
            ERROR_SUCCESS);
  ASSERT_EQ(WriteText(HKEY_CURRENT_USER, u"Software\\Classes\\Shared", nullptr, u"user"),
            ERROR_SUCCESS);
  ASSERT_EQ(WriteText(HKEY_CURRENT_USER, u"Software\\Classes\\UserOnly\\Sub", nullptr, u"u"),
            ERROR_SUCCESS);
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"shared"), "user");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"MachineOnly"), "m");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"UserOnly\\Sub"), "u");

  ASSERT_EQ(WriteText(HKEY_CLASSES_ROOT, u"UserOnly\\New", nullptr, u"1"), ERROR_SUCCESS);
  ASSERT_EQ(WriteText(HKEY_CLASSES_ROOT, u"Brand\\New", nullptr, u"2"), ERROR_SUCCESS);
  EXPECT_EQ(ReadText(HKEY_CURRENT_USER, u"Software\\Classes\\UserOnly\\New"), "1");
  EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, u"Software\\Classes\\Brand\\New"), "2");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"Software\\Classes\\Brand"));

  std::string names;
  WCHAR name[32];
  for (DWORD i = 0;; ++i) {
    DWORD length = 32;
    if (RegEnumKeyExW(HKEY_CLASSES_ROOT, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    names += Narrow(name) + " ";
  }
  EXPECT_EQ(names, "Brand MachineOnly Shared UserOnly ");

  // Removing the user's key uncovers the machine's.
  ASSERT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, u"Shared"), ERROR_SUCCESS);
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"Shared"), "machine");
}

// A store whose folder cannot be made must fail the change, not report it done and drop it.
TEST(Registry, UnwritableStoreFailsTheChange) {
  ScopedRegistry registry;
  kwz_test::TempDir dir;
  const std::string blocker = std::string(dir.path()) + "/file";
  WriteFile(blocker, "not a folder");
  kwz_test::ScopedEnv machine("ProgramData", blocker.c_str());
  EXPECT_EQ(WriteText(HKEY_LOCAL_MACHINE, u"Software\\Lost", nullptr, u"v"),
            static_cast<LONG>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, u"Software\\Lost"));
  // The user's store is elsewhere and unaffected.
  EXPECT_EQ(WriteText(HKEY_CURRENT_USER, u"Software\\Kept", nullptr, u"v"), ERROR_SUCCESS);
}

TEST(Registry, BadHandlesAndArgumentsAreRefused) {
  ScopedRegistry registry;
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(nullptr, u"x", 0, KEY_READ, &key),
            static_cast<LONG>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"absent", 0, KEY_READ, &key),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"x", 0, KEY_READ, nullptr),
            static_cast<LONG>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u""), static_cast<LONG>(ERROR_ACCESS_DENIED));
}

}  // namespace
