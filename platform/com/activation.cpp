#include "platform/com_activation.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/libloaderapi.h"
#include "platform/widestring.h"
#include "platform/winerror.h"
#include "platform/winreg.h"

#include "com/apartment.h"

const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace {

// A CurVer chain longer than this is taken for a loop.
constexpr int kMaxCurVerDepth = 8;

// The default or named text value of HKCR\path; empty with false when absent.
bool ReadClassesText(const std::u16string& path, const char16_t* valueName, std::u16string* text) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  DWORD size = 0;
  LONG status = RegQueryValueExW(key, valueName, nullptr, nullptr, nullptr, &size);
  std::u16string value(size / sizeof(WCHAR), u'\0');
  if (status == ERROR_SUCCESS && size > 0) {
    status = RegQueryValueExW(key, valueName, nullptr, nullptr,
                              reinterpret_cast<BYTE*>(value.data()), &size);
  }
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return false;
  while (!value.empty() && value.back() == u'\0') value.pop_back();
  *text = value;
  return true;
}

std::u16string ClassKey(REFCLSID clsid) {
  WCHAR text[40];
  StringFromGUID2(clsid, text, 40);
  return u"CLSID\\" + std::u16string(text);
}

struct LoadedModule {
  HMODULE module;
  LPFNCANUNLOADNOW canUnloadNow;
};

// Modules loaded by activation, by path; guarded by the lock.
std::mutex g_modulesLock;
std::map<std::u16string, LoadedModule> g_modules;

}  // namespace

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) {
  if (progId == nullptr || clsid == nullptr) return E_INVALIDARG;
  std::u16string name(progId);
  for (int depth = 0; depth <= kMaxCurVerDepth; ++depth) {
    std::u16string current;
    if (ReadClassesText(name + u"\\CurVer", nullptr, &current) && !current.empty() &&
        current != name) {
      name = current;
      continue;
    }
    std::u16string text;
    if (!ReadClassesText(name + u"\\CLSID", nullptr, &text)) return CO_E_CLASSSTRING;
    return SUCCEEDED(CLSIDFromString(text.c_str(), clsid)) ? S_OK : CO_E_CLASSSTRING;
  }
  return CO_E_CLASSSTRING;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) {
  if (progId == nullptr) return E_INVALIDARG;
  *progId = nullptr;
  std::u16string text;
  if (!ReadClassesText(ClassKey(clsid) + u"\\ProgID", nullptr, &text) || text.empty()) {
    return REGDB_E_CLASSNOTREG;
  }
  auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
  if (copy == nullptr) return E_OUTOFMEMORY;
  std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(OLECHAR));
  *progId = copy;
  return S_OK;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!kwz_platform::ComInitializedHere()) return CO_E_NOTINITIALIZED;
  if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
  std::u16string path;
  if (!ReadClassesText(ClassKey(clsid) + u"\\InprocServer32", nullptr, &path) || path.empty()) {
    return REGDB_E_CLASSNOTREG;
  }
  LPFNGETCLASSOBJECT getClassObject = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_modulesLock);
    auto it = g_modules.find(path);
    if (it == g_modules.end()) {
      HMODULE module = LoadLibraryW(path.c_str());
      if (module == nullptr) return CO_E_DLLNOTFOUND;
      auto canUnload =
          reinterpret_cast<LPFNCANUNLOADNOW>(GetProcAddress(module, "DllCanUnloadNow"));
      it = g_modules.emplace(path, LoadedModule{module, canUnload}).first;
    }
    getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(
        GetProcAddress(it->second.module, "DllGetClassObject"));
  }
  if (getClassObject == nullptr) return CO_E_ERRORINDLL;
  return getClassObject(clsid, iid, object);
}

HRESULT kwz_platform::CreateRegisteredInstance(REFCLSID clsid, IUnknown* outer, DWORD context,
                                               REFIID iid, void** object) {
  if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) return E_INVALIDARG;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(outer, iid, object);
  factory->Release();
  return hr;
}

void CoFreeUnusedLibraries() {
  std::lock_guard<std::mutex> lock(g_modulesLock);
  for (auto it = g_modules.begin(); it != g_modules.end();) {
    // A module without DllCanUnloadNow never says it may go.
    if (it->second.canUnloadNow != nullptr && it->second.canUnloadNow() == S_OK) {
      FreeLibrary(it->second.module);
      it = g_modules.erase(it);
    } else {
      ++it;
    }
  }
}

LPVOID CoTaskMemAlloc(SIZE_T size) {
  return std::malloc(size != 0 ? size : 1);
}

void CoTaskMemFree(LPVOID memory) {
  std::free(memory);
}
