// Loading type libraries from modules and files, and finding them through the registry.
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/libloaderapi.h"
#include "platform/typelib_image.h"
#include "platform/widestring.h"
#include "platform/winerror.h"
#include "platform/winreg.h"

namespace {

using kwz_platform::kMaxTypeLibImage;

// The module's TYPELIB resource 1, else the whole file when it is an image by itself.
bool ReadImage(const std::string& path, std::vector<unsigned char>* image) {
  // One read into room for the largest image: the file's resource section is parsed once.
  image->resize(kMaxTypeLibImage + 1);
  DWORD size = static_cast<DWORD>(image->size());
  if (kwz_platform::ReadFileResource(path.c_str(), MAKEINTRESOURCEW(1), u"TYPELIB", image->data(),
                                     &size)) {
    image->resize(size);
    return true;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  file.read(reinterpret_cast<char*>(image->data()), static_cast<std::streamsize>(image->size()));
  image->resize(static_cast<std::size_t>(file.gcount()));
  return true;
}

struct KeyCloser {
  void operator()(HKEY__* key) const { RegCloseKey(key); }
};
using KeyPtr = std::unique_ptr<HKEY__, KeyCloser>;

KeyPtr OpenKey(HKEY parent, const std::u16string& path) {
  HKEY key = nullptr;
  return KeyPtr(RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS ? key
                                                                                        : nullptr);
}

}  // namespace

HRESULT LoadTypeLib(LPCOLESTR path, ITypeLib** lib) {
  return LoadTypeLibEx(path, REGKIND_DEFAULT, lib);
}

HRESULT LoadTypeLibEx(LPCOLESTR path, REGKIND kind, ITypeLib** lib) {
  if (lib == nullptr) return E_POINTER;
  *lib = nullptr;
  if (path == nullptr || *path == u'\0') return E_INVALIDARG;
  const std::string given = Narrow(path);
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(given, error);
  if (error) return TYPE_E_CANTLOADLIBRARY;
  std::vector<unsigned char> image;
  if (!ReadImage(full.string(), &image)) return TYPE_E_CANTLOADLIBRARY;
  kwz_platform::TypeLibData data;
  if (!kwz_platform::ReadTypeLibImage(image.data(), image.size(), &data)) {
    return TYPE_E_INVDATAREAD;
  }
  ITypeLib* loaded = nullptr;
  HRESULT hr = kwz_platform::CreateTypeLibFromData(std::move(data), &loaded);
  if (FAILED(hr)) return hr;
  const bool relative = !std::filesystem::path(given).is_absolute();
  if (kind == REGKIND_REGISTER || (kind == REGKIND_DEFAULT && relative)) {
    hr = RegisterTypeLib(loaded, Widen(full.string().c_str()).c_str(), nullptr);
    if (FAILED(hr)) {
      loaded->Release();
      return hr;
    }
  }
  *lib = loaded;
  return S_OK;
}

HRESULT QueryPathOfRegTypeLib(REFGUID libId, USHORT major, USHORT minor, LCID lcid, BSTR* path) {
  if (path == nullptr) return E_INVALIDARG;
  *path = nullptr;
  WCHAR guid[40];
  StringFromGUID2(libId, guid, 40);
  KeyPtr win32 =
      OpenKey(HKEY_CLASSES_ROOT, u"TypeLib\\" + std::u16string(guid) +
                                     FormatWide(u"\\%x.%x\\%x\\win32", major, minor, lcid));
  WCHAR text[1024] = {};
  DWORD size = sizeof text - sizeof(WCHAR);
  if (!win32 || RegQueryValueExW(win32.get(), nullptr, nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS) {
    return TYPE_E_LIBNOTREGISTERED;
  }
  *path = SysAllocString(text);
  return *path != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT LoadRegTypeLib(REFGUID libId, WORD major, WORD minor, LCID lcid, ITypeLib** lib) {
  if (lib == nullptr) return E_POINTER;
  *lib = nullptr;
  BSTR path = nullptr;
  HRESULT hr = QueryPathOfRegTypeLib(libId, major, minor, lcid, &path);
  if (FAILED(hr)) return hr;
  hr = LoadTypeLibEx(path, REGKIND_NONE, lib);
  SysFreeString(path);
  return hr;
}
