// Type library registration in the registry of platform/winreg.h.
#include <memory>
#include <string>
#include <vector>

#include "platform/oleauto.h"
#include "platform/widestring.h"
#include "platform/winerror.h"
#include "platform/winreg.h"

namespace {

// The proxy-stub classes of dispinterfaces (PSDispatch) and of dual interfaces, which are
// marshalled by their type information (PSOAInterface).
constexpr const char16_t* kPSDispatch = u"{00020420-0000-0000-C000-000000000046}";
constexpr const char16_t* kPSOAInterface = u"{00020424-0000-0000-C000-000000000046}";

struct KeyCloser {
  void operator()(HKEY__* key) const { RegCloseKey(key); }
};
using KeyPtr = std::unique_ptr<HKEY__, KeyCloser>;

std::u16string GuidText(REFGUID guid) {
  WCHAR text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

std::u16string VersionText(WORD major, WORD minor) {
  return FormatWide(u"%x.%x", major, minor);
}

KeyPtr OpenClasses(bool perUser, bool create) {
  HKEY root = perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  HKEY key = nullptr;
  const LONG status = create ? RegCreateKeyExW(root, u"Software\\Classes", 0, nullptr, 0,
                                               KEY_ALL_ACCESS, nullptr, &key, nullptr)
                             : RegOpenKeyExW(root, u"Software\\Classes", 0, KEY_ALL_ACCESS, &key);
  return KeyPtr(status == ERROR_SUCCESS ? key : nullptr);
}

// Creates classes\path and sets its default value (when text is not null) and one named value.
LONG Write(HKEY classes, const std::u16string& path, const char16_t* text,
           const char16_t* valueName = nullptr, const std::u16string& value = {}) {
  HKEY raw = nullptr;
  LONG status =
      RegCreateKeyExW(classes, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr);
  if (status != ERROR_SUCCESS) return status;
  KeyPtr key(raw);
  auto set = [&](const char16_t* name, const std::u16string& data) {
    return RegSetValueExW(raw, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(WCHAR)));
  };
  if (text != nullptr && (status = set(nullptr, text)) != ERROR_SUCCESS) return status;
  if (valueName != nullptr) status = set(valueName, value);
  return status;
}

std::u16string BstrText(BSTR text) {
  std::u16string out = text != nullptr ? std::u16string(text, SysStringLen(text)) : u"";
  SysFreeString(text);
  return out;
}

HRESULT Register(ITypeLib* lib, LPCOLESTR fullPath, LPCOLESTR helpDir, bool perUser) {
  if (lib == nullptr || fullPath == nullptr) return E_INVALIDARG;
  TLIBATTR* attr = nullptr;
  HRESULT hr = lib->GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  const TLIBATTR libAttr = *attr;
  lib->ReleaseTLibAttr(attr);
  KeyPtr classes = OpenClasses(perUser, true);
  if (!classes) return TYPE_E_REGISTRYACCESS;

  BSTR name = nullptr;
  BSTR doc = nullptr;
  lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
  const std::u16string libName = BstrText(name);
  std::u16string libDoc = BstrText(doc);
  if (libDoc.empty()) libDoc = libName;
  std::u16string folder = helpDir != nullptr ? helpDir : fullPath;
  if (helpDir == nullptr) folder = folder.substr(0, folder.find_last_of(u"/\\") + 1);

  const std::u16string libId = GuidText(libAttr.guid);
  const std::u16string version = VersionText(libAttr.wMajorVerNum, libAttr.wMinorVerNum);
  const std::u16string base = u"TypeLib\\" + libId + u"\\" + version;
  LONG status = Write(classes.get(), base, libDoc.c_str());
  if (status == ERROR_SUCCESS) {
    status = Write(classes.get(), base + u"\\FLAGS", FormatWide(u"%u", libAttr.wLibFlags).c_str());
  }
  if (status == ERROR_SUCCESS) status = Write(classes.get(), base + u"\\HELPDIR", folder.c_str());
  if (status == ERROR_SUCCESS) {
    status = Write(classes.get(), base + FormatWide(u"\\%x\\win32", libAttr.lcid), fullPath);
  }
  for (UINT i = 0; status == ERROR_SUCCESS && i < lib->GetTypeInfoCount(); ++i) {
    ITypeInfo* info = nullptr;
    if (FAILED(lib->GetTypeInfo(i, &info))) continue;
    TYPEATTR* typeAttr = nullptr;
    if (FAILED(info->GetTypeAttr(&typeAttr))) {
      info->Release();
      continue;
    }
    const bool dispatch = typeAttr->typekind == TKIND_DISPATCH;
    const char16_t* proxy =
        (typeAttr->wTypeFlags & TYPEFLAG_FDUAL) != 0 ? kPSOAInterface : kPSDispatch;
    const GUID iid = typeAttr->guid;
    info->ReleaseTypeAttr(typeAttr);
    BSTR typeName = nullptr;
    info->GetDocumentation(MEMBERID_NIL, &typeName, nullptr, nullptr, nullptr);
    info->Release();
    const std::u16string name = BstrText(typeName);
    if (!dispatch) continue;
    const std::u16string key = u"Interface\\" + GuidText(iid);
    status = Write(classes.get(), key, name.c_str());
    if (status == ERROR_SUCCESS) status = Write(classes.get(), key + u"\\ProxyStubClsid", proxy);
    if (status == ERROR_SUCCESS) {
      status = Write(classes.get(), key + u"\\ProxyStubClsid32", proxy);
    }
    if (status == ERROR_SUCCESS) {
      status = Write(classes.get(), key + u"\\TypeLib", libId.c_str(), u"Version", version);
    }
  }
  return status == ERROR_SUCCESS ? S_OK : TYPE_E_REGISTRYACCESS;
}

// The default or named value of classes\path; empty when absent.
std::u16string Read(HKEY classes, const std::u16string& path, const char16_t* valueName) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(classes, path.c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS) return {};
  KeyPtr key(raw);
  WCHAR text[256];
  DWORD size = sizeof text;
  if (RegQueryValueExW(raw, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) !=
      ERROR_SUCCESS) {
    return {};
  }
  return text;
}

HRESULT Unregister(REFGUID libGuid, WORD major, WORD minor, bool perUser) {
  KeyPtr classes = OpenClasses(perUser, false);
  if (!classes) return TYPE_E_REGISTRYACCESS;
  const std::u16string libId = GuidText(libGuid);
  const std::u16string version = VersionText(major, minor);
  const std::u16string libKey = u"TypeLib\\" + libId;
  HKEY probe = nullptr;
  if (RegOpenKeyExW(classes.get(), (libKey + u"\\" + version).c_str(), 0, KEY_READ, &probe) !=
      ERROR_SUCCESS) {
    return TYPE_E_REGISTRYACCESS;
  }
  RegCloseKey(probe);

  // The interfaces that name this library and version.
  std::vector<std::u16string> interfaces;
  HKEY raw = nullptr;
  if (RegOpenKeyExW(classes.get(), u"Interface", 0, KEY_READ, &raw) == ERROR_SUCCESS) {
    KeyPtr list(raw);
    WCHAR name[64];
    for (DWORD i = 0;; ++i) {
      DWORD length = 64;
      const LONG status = RegEnumKeyExW(raw, i, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_NO_MORE_ITEMS) break;
      if (status != ERROR_SUCCESS) continue;
      const std::u16string key = u"Interface\\" + std::u16string(name);
      if (Read(classes.get(), key + u"\\TypeLib", nullptr) == libId &&
          Read(classes.get(), key + u"\\TypeLib", u"Version") == version) {
        interfaces.push_back(key);
      }
    }
  }
  for (const std::u16string& key : interfaces) RegDeleteTreeW(classes.get(), key.c_str());
  RegDeleteTreeW(classes.get(), (libKey + u"\\" + version).c_str());
  WCHAR name[64];
  DWORD length = 64;
  HKEY lib = nullptr;
  if (RegOpenKeyExW(classes.get(), libKey.c_str(), 0, KEY_READ, &lib) == ERROR_SUCCESS) {
    const bool empty = RegEnumKeyExW(lib, 0, name, &length, nullptr, nullptr, nullptr, nullptr) ==
                       ERROR_NO_MORE_ITEMS;
    RegCloseKey(lib);
    if (empty) RegDeleteKeyW(classes.get(), libKey.c_str());
  }
  return S_OK;
}

}  // namespace

HRESULT RegisterTypeLib(ITypeLib* lib, LPCOLESTR fullPath, LPCOLESTR helpDir) {
  return Register(lib, fullPath, helpDir, false);
}

HRESULT RegisterTypeLibForUser(ITypeLib* lib, OLECHAR* fullPath, OLECHAR* helpDir) {
  return Register(lib, fullPath, helpDir, true);
}

HRESULT UnRegisterTypeLib(REFGUID libId, WORD major, WORD minor, LCID, SYSKIND) {
  return Unregister(libId, major, minor, false);
}

HRESULT UnRegisterTypeLibForUser(REFGUID libId, WORD major, WORD minor, LCID, SYSKIND) {
  return Unregister(libId, major, minor, true);
}
