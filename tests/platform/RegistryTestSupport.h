// A private registry for one test: both stores relocated into a temporary folder.
#pragma once

#include <string>

#include "platform/widestring.h"
#include "platform/winerror.h"
#include "platform/winreg.h"
#include "tests/support/ChildProcess.h"

namespace kwz_test {

class ScopedRegistry {
 public:
  ScopedRegistry()
      : machine_("ProgramData", (std::string(dir_.path()) + "/machine").c_str()),
        user_("XDG_DATA_HOME", (std::string(dir_.path()) + "/user").c_str()) {}
  std::string UserFile() const { return std::string(dir_.path()) + "/user/kwz/user.reg"; }

 private:
  TempDir dir_;
  ScopedEnv machine_;
  ScopedEnv user_;
};

// The text value of root\path (default value when name is null); "<absent>" when it is not
// there, so a comparison names what is missing.
inline std::string ReadText(HKEY root, const char16_t* path, const char16_t* name = nullptr) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return "<absent>";
  WCHAR text[512];
  DWORD size = sizeof text;
  const LONG status =
      RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? Narrow(text) : "<absent>";
}

inline bool KeyExists(HKEY root, const char16_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

inline LONG WriteText(HKEY root, const char16_t* path, const char16_t* name, const char16_t* text) {
  HKEY key = nullptr;
  LONG status = RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return status;
  const std::u16string value(text);
  status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
  RegCloseKey(key);
  return status;
}

}  // namespace kwz_test
