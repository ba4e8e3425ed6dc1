// The module's four entry points.
#include <string>

#include "control/CKWZ_ScreenReceiver.h"
#include "control/CKWZ_ScreenReceiverFactory.h"
#include "control/CKWZ_ScreenReceiverModule.h"
#include "control/ScreenReceiverGuids.h"
#include "control/ScreenReceiverTypeLib.h"
#include "control/resource.h"
#include "platform/com_activation.h"
#include "platform/com_ptr.h"
#include "platform/libloaderapi.h"
#include "platform/oleauto.h"
#include "platform/registrar.h"
#include "platform/widestring.h"
#include "platform/winerror.h"
#include "platform/winnls.h"

#define KWZ_EXPORT extern "C" [[gnu::visibility("default")]]

KWZ_EXPORT HRESULT DllCanUnloadNow();
KWZ_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object);
KWZ_EXPORT HRESULT DllRegisterServer();
KWZ_EXPORT HRESULT DllUnregisterServer();

namespace {

constexpr DWORD kMiscStatus = CKWZ_ScreenReceiver::kOleMiscStatus;
static_assert(kMiscStatus == 131473);

std::u16string ModulePath() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&DllRegisterServer), &self)) {
    return {};
  }
  WCHAR path[4096];
  const DWORD length = GetModuleFileNameW(self, path, 4096);
  return length > 0 && length < 4096 ? std::u16string(path, length) : std::u16string();
}

HRESULT UpdateRegistryFromResource(UINT id, bool doRegister, const std::u16string& module) {
  HMODULE self = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&DllRegisterServer), &self);
  HRSRC resource = FindResourceW(self, MAKEINTRESOURCEW(id), u"REGISTRY");
  if (resource == nullptr) return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
  const auto* bytes = static_cast<const char*>(LockResource(LoadResource(self, resource)));
  const std::string script(bytes, SizeofResource(self, resource));
  WCHAR appId[40];
  StringFromGUID2(APPID_KWZ_ScreenReceiver, appId, 40);
  CRegObject registrar;
  registrar.AddReplacement(u"MODULE", module.c_str());
  registrar.AddReplacement(u"APPID", appId);
  registrar.AddReplacement(u"OLEMISC", FormatWide(u"%lu", kMiscStatus).c_str());
  const std::u16string text = Widen(script.c_str());
  return doRegister ? registrar.StringRegister(text.c_str())
                    : registrar.StringUnregister(text.c_str());
}

bool PerUser() {
  bool perUser = false;
  AtlGetPerUserRegistration(&perUser);
  return perUser;
}

// Registration runs in the system's locale, whatever the caller's thread was set to, so that
// what it writes does not depend on who ran it.
class SystemLocaleScope {
 public:
  SystemLocaleScope() : saved_(GetThreadLocale()) { SetThreadLocale(LOCALE_SYSTEM_DEFAULT); }
  ~SystemLocaleScope() { SetThreadLocale(saved_); }
  SystemLocaleScope(const SystemLocaleScope&) = delete;
  SystemLocaleScope& operator=(const SystemLocaleScope&) = delete;

 private:
  const LCID saved_;
};

}  // namespace

HRESULT DllCanUnloadNow() {
  return ScreenReceiverModule().GetLockCount() == 0 ? S_OK : S_FALSE;
}

HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_KWZ_ScreenReceiver)) return CLASS_E_CLASSNOTAVAILABLE;
  return CKWZ_ScreenReceiverFactory::Instance().QueryInterface(iid, object);
}

HRESULT DllRegisterServer() {
  SystemLocaleScope locale;
  const std::u16string module = ModulePath();
  if (module.empty()) return E_UNEXPECTED;
  HRESULT hr = UpdateRegistryFromResource(IDR_KWZ_SCREENRECEIVERAPP, true, module);
  if (FAILED(hr)) return hr;
  hr = UpdateRegistryFromResource(IDR_KWZ_SCREENRECEIVER, true, module);
  if (FAILED(hr)) return hr;
  // What is registered is what the module file carries, as any reader of it will find it.
  CComPtr<ITypeLib> lib;
  hr = LoadTypeLibEx(module.c_str(), REGKIND_NONE, &lib);
  if (FAILED(hr)) return hr;
  std::u16string path = module;
  return PerUser() ? RegisterTypeLibForUser(lib, path.data(), nullptr)
                   : RegisterTypeLib(lib, path.c_str(), nullptr);
}

HRESULT DllUnregisterServer() {
  SystemLocaleScope locale;
  const std::u16string module = ModulePath();
  if (module.empty()) return E_UNEXPECTED;
  HRESULT hr = UpdateRegistryFromResource(IDR_KWZ_SCREENRECEIVER, false, module);
  if (FAILED(hr)) return hr;
  // The application identity goes only once the class is wholly gone, type library included.
  hr = PerUser()
           ? UnRegisterTypeLibForUser(LIBID_KWZ_ScreenReceiverLib, kScreenReceiverLibMajor,
                                      kScreenReceiverLibMinor, kScreenReceiverLibLocale, SYS_WIN32)
           : UnRegisterTypeLib(LIBID_KWZ_ScreenReceiverLib, kScreenReceiverLibMajor,
                               kScreenReceiverLibMinor, kScreenReceiverLibLocale, SYS_WIN32);
  if (FAILED(hr)) return hr;
  return UpdateRegistryFromResource(IDR_KWZ_SCREENRECEIVERAPP, false, module);
}
