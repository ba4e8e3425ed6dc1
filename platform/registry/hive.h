// One registry store in memory and its text file.
//
// File layout, one item a line, UTF-8:
//
//   KWZ-REGISTRY 1                      header
//   [Software\Classes\CLSID\{...}]      a key, by its path from the store's root
//   @="KWZ_ScreenReceiver Class"        its default value
//   "ThreadingModel"="Apartment"        a named value
//   ...                                 (every key has its own line, empty keys too)
//   END                                 trailer: a file cut short is refused, not half read
//
// In quoted text, '\' escapes '\' and '"', and "\n" stands for a line feed.
//
// Threads: a hive is plain data, used by one thread at a time (the store lock in winreg.cpp).
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <map>
#include <string>

#include "platform/wintypes.h"

namespace kwz_platform {

struct CaseLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

struct RegistryKey {
  std::map<std::string, RegistryKey, CaseLess> subkeys;
  std::map<std::string, std::string, CaseLess> values;  // "" is the default value
};

class RegistryHive {
 public:
  RegistryKey& Root() { return root_; }

  // The key at path ('\'-separated, empty for the root); null when absent. Create makes the
  // missing levels; *created tells whether the last level is new.
  RegistryKey* Find(const std::string& path);
  RegistryKey* Create(const std::string& path, bool* created);
  // Removes the key at path with everything below it; false when absent or the root.
  bool Remove(const std::string& path);

  // ERROR_SUCCESS, or ERROR_BADDB with *reason naming the line. An absent file is an empty
  // store.
  LONG Load(const std::string& file, std::string* reason);
  LONG Parse(const std::string& text, std::string* reason);
  std::string Serialize() const;
  // Writes file.tmp, flushes it to disk and renames it over file; makes the folders.
  LONG Save(const std::string& file) const;

 private:
  RegistryKey root_;
};

// Splits "a\b\\c" into its levels, dropping empty ones.
std::string NormalizeRegistryPath(const std::string& path);

}  // namespace kwz_platform
