#include "platform/winreg.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/debug.h"
#include "platform/shell.h"
#include "platform/widestring.h"
#include "platform/winerror.h"

#include "registry/hive.h"

using kwz_platform::NormalizeRegistryPath;
using kwz_platform::RegistryHive;
using kwz_platform::RegistryKey;

enum class Store { kMachine, kUser, kClasses };

struct HKEY__ {
  Store store;
  std::string path;  // from the store's root; for kClasses, from the classes root
};

namespace {

constexpr const char* kClassesRoot = "Software\\Classes";

std::string StoreFile(Store store) {
  if (store == Store::kMachine) {
    char folder[MAX_PATH];
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, folder))) return {};
    return std::string(folder) + "/kwz/machine.reg";
  }
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return std::string(data) + "/kwz/user.reg";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') return {};
  return std::string(home) + "/.local/share/kwz/user.reg";
}

// Both stores of one call, loaded under their lock files (machine first, always) and saved
// when changed. Threads of this process also serialise on a mutex: a lock file taken twice
// through one process would not exclude.
class Session {
 public:
  explicit Session(bool writing) : guard_(ProcessLock()) {
    for (int i = 0; i < 2; ++i) {
      Part& part = parts_[i];
      part.file = StoreFile(i == 0 ? Store::kMachine : Store::kUser);
      if (part.file.empty()) {
        part.status = ERROR_PATH_NOT_FOUND;
        continue;
      }
      const std::string lockFile = part.file + ".lock";
      part.lockFd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
      if (part.lockFd < 0 && writing) {
        RegistryHive probe;
        probe.Save(part.file + ".probe");  // makes the folders
        ::unlink((part.file + ".probe").c_str());
        part.lockFd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
      }
      if (part.lockFd >= 0) ::flock(part.lockFd, LOCK_EX);
      std::string reason;
      part.status = part.hive.Load(part.file, &reason);
      if (part.status != ERROR_SUCCESS) {
        OutputDebugStringA(("registry store unusable: " + reason + "\n").c_str());
      }
    }
  }
  ~Session() {
    for (Part& part : parts_) {
      if (part.lockFd >= 0) ::close(part.lockFd);
    }
  }

  // Writes the changed stores; the first failure (a folder that cannot be made or written,
  // say) is the call's result, so a change that did not reach its file is never reported done.
  LONG Commit() {
    LONG result = ERROR_SUCCESS;
    for (Part& part : parts_) {
      if (!part.dirty || part.status != ERROR_SUCCESS) continue;
      const LONG saved = part.hive.Save(part.file);
      part.dirty = false;
      if (saved != ERROR_SUCCESS && result == ERROR_SUCCESS) result = saved;
    }
    return result;
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  LONG Status(Store store) const { return parts_[Index(store)].status; }
  RegistryHive& Hive(Store store) { return parts_[Index(store)].hive; }
  void Touch(Store store) { parts_[Index(store)].dirty = true; }

 private:
  struct Part {
    std::string file;
    int lockFd = -1;
    RegistryHive hive;
    LONG status = ERROR_SUCCESS;
    bool dirty = false;
  };
  static int Index(Store store) { return store == Store::kMachine ? 0 : 1; }
  static std::unique_lock<std::mutex> ProcessLock() {
    static std::mutex lock;
    return std::unique_lock<std::mutex>(lock);
  }

  std::unique_lock<std::mutex> guard_;
  Part parts_[2];
};

// Where a key of one store lives: the store and the path from its root.
struct Place {
  Store store;
  std::string path;
};

std::string Join(const std::string& a, const std::string& b) {
  if (a.empty()) return NormalizeRegistryPath(b);
  if (b.empty()) return a;
  return NormalizeRegistryPath(a + '\\' + b);
}

bool Resolve(HKEY key, LPCWSTR subKey, HKEY__* out) {
  const std::string sub = subKey != nullptr ? Narrow(subKey) : std::string();
  const auto value = reinterpret_cast<ULONG_PTR>(key);
  if (key == HKEY_CLASSES_ROOT) {
    *out = {Store::kClasses, NormalizeRegistryPath(sub)};
  } else if (key == HKEY_CURRENT_USER) {
    *out = {Store::kUser, NormalizeRegistryPath(sub)};
  } else if (key == HKEY_LOCAL_MACHINE) {
    *out = {Store::kMachine, NormalizeRegistryPath(sub)};
  } else if (key == nullptr || (value >= 0x80000000u && value <= 0x800000FFu)) {
    return false;
  } else {
    *out = {key->store, Join(key->path, sub)};
  }
  return true;
}

// The merged classes view reads the user's key where it exists, the machine's otherwise.
// For creation, the store whose nearest existing level is deepest wins; the machine on a tie.
Place Locate(Session& session, const HKEY__& key, bool forCreate) {
  if (key.store != Store::kClasses) return {key.store, key.path};
  const std::string full = Join(kClassesRoot, key.path);
  if (session.Hive(Store::kUser).Find(full) != nullptr) return {Store::kUser, full};
  if (!forCreate || session.Hive(Store::kMachine).Find(full) != nullptr) {
    return {Store::kMachine, full};
  }
  std::string probe = full;
  while (true) {
    const std::size_t cut = probe.rfind('\\');
    if (cut == std::string::npos) break;
    probe.resize(cut);
    const bool user = session.Hive(Store::kUser).Find(probe) != nullptr;
    const bool machine = session.Hive(Store::kMachine).Find(probe) != nullptr;
    if (user && !machine) return {Store::kUser, full};
    if (machine) break;
  }
  return {Store::kMachine, full};
}

// Checks both stores the place may need: a merged view needs both readable.
LONG Usable(Session& session, const HKEY__& key, Store store) {
  if (key.store == Store::kClasses) {
    if (session.Status(Store::kMachine) != ERROR_SUCCESS) return session.Status(Store::kMachine);
    return session.Status(Store::kUser);
  }
  return session.Status(store);
}

// One registry call on a key: the handle resolved, both stores loaded under their locks and
// the store that holds (or is to hold) the key chosen. status() is the call's answer when the
// key cannot be used.
class KeyCall {
 public:
  KeyCall(HKEY key, LPCWSTR subKey, bool writing, bool forCreate = false) {
    if (!Resolve(key, subKey, &target_)) {
      status_ = ERROR_INVALID_HANDLE;
      return;
    }
    session_.emplace(writing);
    place_ = Locate(*session_, target_, forCreate);
    status_ = Usable(*session_, target_, place_.store);
  }

  LONG status() const { return status_; }
  const HKEY__& target() const { return target_; }
  const Place& place() const { return place_; }
  Session& session() { return *session_; }
  RegistryHive& hive() { return session_->Hive(place_.store); }
  RegistryKey* Find() { return hive().Find(place_.path); }
  // Marks the key's store changed and writes it.
  LONG Commit() {
    session_->Touch(place_.store);
    return session_->Commit();
  }

 private:
  HKEY__ target_{Store::kClasses, ""};
  std::optional<Session> session_;
  Place place_{Store::kMachine, ""};
  LONG status_ = ERROR_SUCCESS;
};

std::string ValueName(LPCWSTR name) {
  return name != nullptr ? Narrow(name) : std::string();
}

}  // namespace

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  KeyCall call(key, subKey, false);
  if (call.status() != ERROR_SUCCESS) return call.status();
  if (call.Find() == nullptr) return ERROR_FILE_NOT_FOUND;
  *result = new HKEY__(call.target());
  return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM, void*, PHKEY result,
                        DWORD* disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  KeyCall call(key, subKey, true, true);
  if (call.status() != ERROR_SUCCESS) return call.status();
  bool created = false;
  call.hive().Create(call.place().path, &created);
  if (created) {
    if (const LONG status = call.Commit(); status != ERROR_SUCCESS) return status;
  }
  if (disposition != nullptr) {
    *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  }
  *result = new HKEY__(call.target());
  return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
  HKEY__ ignored;
  if (!Resolve(key, nullptr, &ignored)) return ERROR_INVALID_HANDLE;
  const auto value = reinterpret_cast<ULONG_PTR>(key);
  if (value < 0x80000000u || value > 0x800000FFu) delete key;
  return ERROR_SUCCESS;
}

LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data,
                       DWORD cbData) {
  if (type != REG_SZ) return ERROR_NOT_SUPPORTED;
  if (data == nullptr && cbData != 0) return ERROR_INVALID_PARAMETER;
  std::u16string text(cbData / sizeof(WCHAR), u'\0');
  if (!text.empty()) std::memcpy(text.data(), data, text.size() * sizeof(WCHAR));
  while (!text.empty() && text.back() == u'\0') text.pop_back();
  KeyCall call(key, nullptr, true);
  if (call.status() != ERROR_SUCCESS) return call.status();
  RegistryKey* found = call.Find();
  if (found == nullptr) return ERROR_KEY_DELETED;
  found->values[ValueName(valueName)] = Narrow(text.c_str());
  return call.Commit();
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD*, DWORD* type, BYTE* data,
                         DWORD* cbData) {
  if (data != nullptr && cbData == nullptr) return ERROR_INVALID_PARAMETER;
  KeyCall call(key, nullptr, false);
  if (call.status() != ERROR_SUCCESS) return call.status();
  RegistryKey* found = call.Find();
  if (found == nullptr) return ERROR_KEY_DELETED;
  auto it = found->values.find(ValueName(valueName));
  if (it == found->values.end()) return ERROR_FILE_NOT_FOUND;
  const std::u16string text = Widen(it->second.c_str());
  const DWORD needed = static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
  if (type != nullptr) *type = REG_SZ;
  if (cbData == nullptr) return ERROR_SUCCESS;
  const DWORD capacity = *cbData;
  *cbData = needed;
  if (data == nullptr) return ERROR_SUCCESS;
  if (capacity < needed) return ERROR_MORE_DATA;
  std::memcpy(data, text.c_str(), needed);
  return ERROR_SUCCESS;
}

LSTATUS RegDeleteValueW(HKEY key, LPCWSTR valueName) {
  KeyCall call(key, nullptr, true);
  if (call.status() != ERROR_SUCCESS) return call.status();
  RegistryKey* found = call.Find();
  if (found == nullptr) return ERROR_KEY_DELETED;
  if (found->values.erase(ValueName(valueName)) == 0) return ERROR_FILE_NOT_FOUND;
  return call.Commit();
}

namespace {

LSTATUS DeleteKey(HKEY key, LPCWSTR subKey, bool tree) {
  KeyCall call(key, subKey, true);
  if (call.status() != ERROR_SUCCESS) return call.status();
  RegistryKey* found = call.Find();
  if (found == nullptr) return ERROR_FILE_NOT_FOUND;
  if (!tree && !found->subkeys.empty()) return ERROR_ACCESS_DENIED;
  if (tree && subKey == nullptr) {
    found->subkeys.clear();
    found->values.clear();
  } else if (!call.hive().Remove(call.place().path)) {
    return ERROR_ACCESS_DENIED;  // a store's root
  }
  return call.Commit();
}

}  // namespace

LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
  if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
  return DeleteKey(key, subKey, false);
}

LSTATUS RegDeleteTreeW(HKEY key, LPCWSTR subKey) {
  return DeleteKey(key, subKey, true);
}

LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD* cchName, DWORD*, LPWSTR, DWORD*,
                      void*) {
  if (name == nullptr || cchName == nullptr) return ERROR_INVALID_PARAMETER;
  KeyCall call(key, nullptr, false);
  if (call.status() != ERROR_SUCCESS) return call.status();
  // The classes view lists the subkeys of both stores.
  std::map<std::string, int, kwz_platform::CaseLess> names;
  std::vector<Store> stores{call.place().store};
  if (call.target().store == Store::kClasses) stores = {Store::kUser, Store::kMachine};
  bool any = false;
  for (Store store : stores) {
    const RegistryKey* found = call.session().Hive(store).Find(call.place().path);
    if (found == nullptr) continue;
    any = true;
    for (const auto& entry : found->subkeys) names.emplace(entry.first, 0);
  }
  if (!any) return ERROR_KEY_DELETED;
  if (index >= names.size()) return ERROR_NO_MORE_ITEMS;
  auto it = names.begin();
  std::advance(it, index);
  const std::u16string text = Widen(it->first.c_str());
  if (*cchName <= text.size()) {
    *cchName = static_cast<DWORD>(text.size() + 1);
    return ERROR_MORE_DATA;
  }
  std::memcpy(name, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
  *cchName = static_cast<DWORD>(text.size());
  return ERROR_SUCCESS;
}
