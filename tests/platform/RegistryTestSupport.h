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
  WCHAR text[512];
  DWORD size = sizeof text;
  HKEY key = nullptr;
  const bool read = RegOpenKeyExW(root, path, 0, KEY_READ, &key) == ERROR_SUCCESS &&
                    RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text),
                                     &size) == ERROR_SUCCESS;
  if (key != nullptr) RegCloseKey(key);
  return read ? Narrow(text) : "<absent>";
}

inline bool KeyExists(HKEY root, const char16_t* path) {
  HKEY key = nullptr;
  return RegOpenKeyExW(root, path, 0, KEY_READ, &key) == ERROR_SUCCESS &&
         RegCloseKey(key) == ERROR_SUCCESS;
}

inline LONG WriteText(HKEY root, const char16_t* path, const char16_t* name, const char16_t* text) {
  HKEY key = nullptr;
  LONG status = RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return status;
  status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>((std::u16string(text).size() + 1) * sizeof(WCHAR)));
  RegCloseKey(key);
  return status;
}

}  // namespace kwz_test
