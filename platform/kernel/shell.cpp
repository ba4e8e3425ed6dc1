#include "platform/shell.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/widestring.h"
#include "platform/winerror.h"

namespace {

HRESULT CommonAppData(int csidl, std::string* folder) {
  if ((csidl & ~CSIDL_FLAG_CREATE) != CSIDL_COMMON_APPDATA) return E_INVALIDARG;
  const char* configured = std::getenv("ProgramData");
  *folder = (configured != nullptr && *configured != '\0') ? configured : "/var/lib";
  return folder->size() < MAX_PATH ? S_OK : E_FAIL;
}

}  // namespace

HRESULT SHGetFolderPathA(HWND, int csidl, HANDLE, DWORD, char* path) {
  if (path == nullptr) return E_INVALIDARG;
  std::string folder;
  HRESULT hr = CommonAppData(csidl, &folder);
  if (FAILED(hr)) {
    path[0] = '\0';
    return hr;
  }
  std::memcpy(path, folder.c_str(), folder.size() + 1);
  return S_OK;
}

HRESULT SHGetFolderPathW(HWND, int csidl, HANDLE, DWORD, WCHAR* path) {
  if (path == nullptr) return E_INVALIDARG;
  std::string folder;
  HRESULT hr = CommonAppData(csidl, &folder);
  std::u16string wide = Widen(folder.c_str());
  if (SUCCEEDED(hr) && wide.size() >= MAX_PATH) hr = E_FAIL;
  if (FAILED(hr)) {
    path[0] = u'\0';
    return hr;
  }
  std::memcpy(path, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
  return S_OK;
}
