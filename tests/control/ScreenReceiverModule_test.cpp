// The module as containers meet it: registered into a private registry, found by ProgID,
// loaded by CoCreateInstance, unloaded when nothing holds it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "control/ScreenReceiverGuids.h"
#include "control/ScreenReceiverTypeLib.h"
#include "control/resource.h"
#include "platform/com_activation.h"
#include "platform/gdi.h"
#include "platform/libloaderapi.h"
#include "platform/registrar.h"
#include "platform/winnls.h"
#include "platform/winver.h"
#include "tests/control/ControlTestSupport.h"
#include "tests/platform/RegistryTestSupport.h"

namespace {

using kwz_test::KeyExists;
using kwz_test::ReadText;
using kwz_test::ScopedRegistry;
using kwz_test::Script;

const std::u16string kModule = Widen(KWZ_MODULE_PATH);
constexpr const char16_t* kClassKey = u"CLSID\\{4B575A10-5C52-4E63-9A31-0D7E6F5A1001}";
constexpr const char16_t* kAppIdKey = u"AppID\\{4B575A10-5C52-4E63-9A31-0D7E6F5A1005}";

bool ModuleLoaded() {
  void* handle = ::dlopen(KWZ_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  ::dlclose(handle);
  return true;
}

std::u16string Sub(const char16_t* key, const char16_t* sub) {
  return std::u16string(key) + u"\\" + sub;
}

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitialize(nullptr), S_OK); }
  void TearDown() override {
    CoFreeUnusedLibraries();
    CoUninitialize();
    AtlSetPerUserRegistration(false);
  }

  // Runs one of the module's registration entry points, as kwz-regsvr does.
  HRESULT RunEntry(const char* name, bool perUser) {
    AtlSetPerUserRegistration(perUser);
    HMODULE module = LoadLibraryW(kModule.c_str());
    if (module == nullptr) return E_FAIL;
    auto entry = reinterpret_cast<LPFNREGISTERSERVER>(GetProcAddress(module, name));
    const HRESULT hr = entry != nullptr ? entry() : E_FAIL;
    FreeLibrary(module);
    return hr;
  }

  // DllCanUnloadNow of the module as loaded by activation.
  HRESULT CanUnloadNow() {
    HMODULE module = LoadLibraryW(kModule.c_str());
    auto entry = reinterpret_cast<LPFNCANUNLOADNOW>(GetProcAddress(module, "DllCanUnloadNow"));
    const HRESULT hr = entry != nullptr ? entry() : E_FAIL;
    FreeLibrary(module);
    return hr;
  }

  ScopedRegistry registry_;
};

TEST_F(ModuleTest, RegistrationWritesTheClassContainersLookFor) {
  ASSERT_TRUE(SetThreadLocale(0x0407));
  ASSERT_EQ(RunEntry("DllRegisterServer", true), S_OK);
  EXPECT_EQ(GetThreadLocale(), 0x0407u) << "the locale switch is undone";

  CLSID clsid = GUID_NULL;
  ASSERT_EQ(CLSIDFromProgID(kScreenReceiverIndependentProgId, &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_KWZ_ScreenReceiver));
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"KWZ_ScreenReceiver.KWZ_ScreenReceiver\\CurVer"),
            "KWZ_ScreenReceiver.KWZ_ScreenReceiver.1");
  LPOLESTR progId = nullptr;
  ASSERT_EQ(ProgIDFromCLSID(CLSID_KWZ_ScreenReceiver, &progId), S_OK);
  EXPECT_EQ(Narrow(progId), "KWZ_ScreenReceiver.KWZ_ScreenReceiver.1");
  CoTaskMemFree(progId);

  const std::string module = Narrow(kModule.c_str());
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, kClassKey), "KWZ_ScreenReceiver Class");
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, Sub(kClassKey, u"Control").c_str()));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, Sub(kClassKey, u"Programmable").c_str()));
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, Sub(kClassKey, u"InprocServer32").c_str()), module);
  EXPECT_EQ(
      ReadText(HKEY_CLASSES_ROOT, Sub(kClassKey, u"InprocServer32").c_str(), u"ThreadingModel"),
      "Apartment");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, Sub(kClassKey, u"MiscStatus").c_str()), "0");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, Sub(kClassKey, u"MiscStatus\\1").c_str()), "131473");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, Sub(kClassKey, u"ToolboxBitmap32").c_str()),
            module + ", 102");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, Sub(kClassKey, u"TypeLib").c_str()),
            "{4B575A10-5C52-4E63-9A31-0D7E6F5A1004}");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, Sub(kClassKey, u"Version").c_str()), "1.0");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, kClassKey, u"AppID"),
            "{4B575A10-5C52-4E63-9A31-0D7E6F5A1005}");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, kAppIdKey), "KWZ_ScreenReceiver");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"AppID\\KWZ_ScreenReceiver.DLL", u"AppID"),
            "{4B575A10-5C52-4E63-9A31-0D7E6F5A1005}");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT,
                     u"TypeLib\\{4B575A10-5C52-4E63-9A31-0D7E6F5A1004}\\1.0\\409\\win32"),
            module);
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT,
                     u"Interface\\{4B575A10-5C52-4E63-9A31-0D7E6F5A1002}\\TypeLib", u"Version"),
            "1.0");
  // The dual interface is marshalled by its type information, the events as a dispinterface.
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT,
                     u"Interface\\{4B575A10-5C52-4E63-9A31-0D7E6F5A1002}\\ProxyStubClsid32"),
            "{00020424-0000-0000-C000-000000000046}");
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT,
                     u"Interface\\{4B575A10-5C52-4E63-9A31-0D7E6F5A1003}\\ProxyStubClsid32"),
            "{00020420-0000-0000-C000-000000000046}");
  CComPtr<ITypeLib> registered;
  ASSERT_EQ(LoadRegTypeLib(LIBID_KWZ_ScreenReceiverLib, 1, 0, 1033, &registered), S_OK);
  EXPECT_EQ(registered->GetTypeInfoCount(), 3u);
  // Per-user registration leaves the machine alone.
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Sub(u"Software\\Classes", kClassKey).c_str()));

  ASSERT_EQ(RunEntry("DllUnregisterServer", true), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"KWZ_ScreenReceiver.KWZ_ScreenReceiver"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"KWZ_ScreenReceiver.KWZ_ScreenReceiver.1"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kAppIdKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"AppID\\KWZ_ScreenReceiver.DLL"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"TypeLib\\{4B575A10-5C52-4E63-9A31-0D7E6F5A1004}"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"Interface\\{4B575A10-5C52-4E63-9A31-0D7E6F5A1002}"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"AppID"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"CLSID"));
  EXPECT_EQ(CLSIDFromProgID(kScreenReceiverIndependentProgId, &clsid), CO_E_CLASSSTRING);
}

TEST_F(ModuleTest, MachineWideRegistrationKeepsOtherClasses) {
  ASSERT_EQ(kwz_test::WriteText(HKEY_LOCAL_MACHINE, u"Software\\Classes\\CLSID\\{Other}", nullptr,
                                u"other"),
            ERROR_SUCCESS);
  ASSERT_EQ(RunEntry("DllRegisterServer", false), S_OK);
  EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, Sub(u"Software\\Classes", kClassKey).c_str()),
            "KWZ_ScreenReceiver Class");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"Software\\Classes\\CLSID"));
  ASSERT_EQ(RunEntry("DllUnregisterServer", false), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"CLSID\\{Other}"), "other");
}

// A type library that cannot be unregistered (here: no longer registered) ends unregistration
// with its error, after the class went and before the application identity does.
TEST_F(ModuleTest, UnregistrationStopsAtAFailedTypeLibrary) {
  ASSERT_EQ(RunEntry("DllRegisterServer", true), S_OK);
  ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER,
                           u"Software\\Classes\\TypeLib\\{4B575A10-5C52-4E63-9A31-0D7E6F5A1004}"),
            ERROR_SUCCESS);
  EXPECT_EQ(RunEntry("DllUnregisterServer", true), TYPE_E_REGISTRYACCESS);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, kAppIdKey), "KWZ_ScreenReceiver");
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"AppID\\KWZ_ScreenReceiver.DLL"));
}

TEST_F(ModuleTest, CreatedByProgIdAndUnloadedWhenTheLastControlGoes) {
  ASSERT_EQ(RunEntry("DllRegisterServer", true), S_OK);
  ASSERT_FALSE(ModuleLoaded());
  CLSID clsid = GUID_NULL;
  ASSERT_EQ(CLSIDFromProgID(kScreenReceiverIndependentProgId, &clsid), S_OK);
  IDispatch* control = nullptr;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                             reinterpret_cast<void**>(&control)),
            S_OK);
  EXPECT_TRUE(ModuleLoaded());
  Script script(control);
  EXPECT_EQ(script.PutText(u"SourcePort", u"60123").hr, S_OK);
  EXPECT_EQ(script.Get(u"SourcePort").text, u"60123");

  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  CoFreeUnusedLibraries();
  EXPECT_TRUE(ModuleLoaded()) << "a live control keeps its module";
  control->Release();
  EXPECT_EQ(CanUnloadNow(), S_OK);
  CoFreeUnusedLibraries();
  EXPECT_FALSE(ModuleLoaded());

  // And loads again on the next creation.
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                             reinterpret_cast<void**>(&control)),
            S_OK);
  control->Release();
}

TEST_F(ModuleTest, ClassFactoryLockKeepsTheModule) {
  ASSERT_EQ(RunEntry("DllRegisterServer", true), S_OK);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(CoGetClassObject(CLSID_KWZ_ScreenReceiver, CLSCTX_INPROC_SERVER, nullptr,
                             IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory->Release();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  CoFreeUnusedLibraries();
  ASSERT_TRUE(ModuleLoaded());
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_FALSE) << "two locks, one released";
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_OK);
  CoFreeUnusedLibraries();
  EXPECT_FALSE(ModuleLoaded());
}

TEST_F(ModuleTest, ClassObjectOnlyForItsOwnClass) {
  HMODULE module = LoadLibraryW(kModule.c_str());
  ASSERT_NE(module, nullptr);
  auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(module, "DllGetClassObject"));
  ASSERT_NE(get, nullptr);
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(get(IID_IDispatch, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(get(CLSID_KWZ_ScreenReceiver, IID_IDispatch, &object), E_NOINTERFACE);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(get(CLSID_KWZ_ScreenReceiver, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            S_OK);
  IUnknown* outer = reinterpret_cast<IUnknown*>(factory);  // any non-null outer
  EXPECT_EQ(factory->CreateInstance(outer, IID_IDispatch, &object), CLASS_E_NOAGGREGATION);
  factory->Release();
  // Nothing but the four entry points is exported.
  EXPECT_EQ(GetProcAddress(module, "_ZN19CKWZ_ScreenReceiver4InitEv"), nullptr);
  FreeLibrary(module);
}

// An outer object that aggregates the control and adds nothing of its own.
class Outer final : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (IsEqualIID(iid, IID_IUnknown)) {
      *object = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return inner_->QueryInterface(iid, object);
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) {
      ++refs_;  // as the framework guards the inner object's release
      inner_->Release();
      delete this;
    }
    return left;
  }
  IUnknown*& Inner() { return inner_; }
  ULONG Refs() const { return refs_; }

 private:
  std::atomic<ULONG> refs_{1};
  IUnknown* inner_ = nullptr;
};

TEST_F(ModuleTest, AggregatedControlSharesTheOuterIdentity) {
  ASSERT_EQ(RunEntry("DllRegisterServer", true), S_OK);
  auto* outer = new Outer();
  ASSERT_EQ(CoCreateInstance(CLSID_KWZ_ScreenReceiver, outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&outer->Inner())),
            S_OK);
  EXPECT_NE(outer->Inner(), static_cast<IUnknown*>(outer));
  EXPECT_EQ(outer->Refs(), 1u) << "creation does not keep the outer object alive";

  IDispatch* dispatch = nullptr;
  ASSERT_EQ(outer->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  EXPECT_EQ(outer->Refs(), 2u) << "the control's interfaces count on the outer object";
  IUnknown* identity = nullptr;
  ASSERT_EQ(dispatch->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, static_cast<IUnknown*>(outer));
  identity->Release();
  IConnectionPointContainer* points = nullptr;
  ASSERT_EQ(
      dispatch->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&points)),
      S_OK);
  EXPECT_EQ(outer->Refs(), 3u);
  points->Release();
  Script script(dispatch);
  EXPECT_EQ(script.PutNumber(u"DrawWidth", 640).hr, S_OK);
  EXPECT_EQ(script.Get(u"DrawWidth").number, 640);
  dispatch->Release();

  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  outer->Release();
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(ModuleTest, VersionRecordStringsAndToolboxBitmapReadFromTheFile) {
  DWORD handle = 1;
  const DWORD size = GetFileVersionInfoSizeW(kModule.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::string block(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoW(kModule.c_str(), handle, size, block.data()));
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), u"\\StringFileInfo\\040904B0\\FileDescription", &value,
                             &length));
  EXPECT_EQ(Narrow(static_cast<const WCHAR*>(value)), "Screen Receiver Module");
  ASSERT_TRUE(VerQueryValueW(block.data(), u"\\", &value, &length));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00050001u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
  EXPECT_FALSE(
      VerQueryValueW(block.data(), u"\\StringFileInfo\\040904B0\\NoSuchField", &value, &length));
  EXPECT_FALSE(GetFileVersionInfoW(kModule.c_str(), 0, size - 1, block.data()));

  HMODULE module = LoadLibraryW(kModule.c_str());
  WCHAR name[64];
  EXPECT_EQ(LoadStringW(module, 100, name, 64), 18);
  EXPECT_EQ(Narrow(name), "KWZ_ScreenReceiver");
  EXPECT_EQ(LoadStringW(module, 100, name, 4), 3) << "cut to fit";
  EXPECT_EQ(Narrow(name), "KWZ");
  EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCEW(103), u"REGISTRY"), nullptr);
  HBITMAP toolbox = LoadBitmapW(module, MAKEINTRESOURCEW(IDB_KWZ_SCREENRECEIVER));
  FreeLibrary(module);
  // The toolbox picture: a 17 x 16 drawing, light grey in its corners.
  BITMAP picture{};
  ASSERT_EQ(GetObjectW(toolbox, sizeof picture, &picture), static_cast<int>(sizeof picture));
  ASSERT_EQ(picture.bmWidth, 17);
  ASSERT_EQ(picture.bmHeight, 16);
  const auto* pixels = static_cast<const std::uint32_t*>(picture.bmBits);
  const std::uint32_t topLeft = pixels[15 * 17] & 0xFFFFFF;  // bottom-up rows
  EXPECT_EQ(topLeft, 0xC0C0C0u);
  EXPECT_TRUE(std::any_of(pixels, pixels + 17 * 16,
                          [&](std::uint32_t pixel) { return (pixel & 0xFFFFFF) != topLeft; }));
  EXPECT_TRUE(DeleteObject(toolbox));
  // A file that is no module of ours has no record.
  EXPECT_EQ(GetFileVersionInfoSizeW(u"/proc/self/status", nullptr), 0u);
}

// The library a tool reads from the file is the one the control answers with in memory.
TEST_F(ModuleTest, TypeLibraryInTheFileIsTheControlsOwn) {
  DWORD size = 0;
  ASSERT_TRUE(kwz_platform::ReadFileResource(KWZ_MODULE_PATH, MAKEINTRESOURCEW(1), u"TYPELIB",
                                             nullptr, &size));
  std::vector<unsigned char> image(size);
  ASSERT_TRUE(kwz_platform::ReadFileResource(KWZ_MODULE_PATH, MAKEINTRESOURCEW(1), u"TYPELIB",
                                             image.data(), &size));
  kwz_platform::TypeLibData data;
  ASSERT_TRUE(kwz_platform::ReadTypeLibImage(image.data(), image.size(), &data));
  EXPECT_EQ(data, ScreenReceiverTypeLibData());
}

// What a broken registration gives a container.
TEST_F(ModuleTest, ActivationFailuresNameTheirCause) {
  IUnknown* object = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_KWZ_ScreenReceiver, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&object)),
            REGDB_E_CLASSNOTREG);
  ASSERT_EQ(kwz_test::WriteText(HKEY_CLASSES_ROOT, Sub(kClassKey, u"InprocServer32").c_str(),
                                nullptr, u"/nonexistent/libnothing.so"),
            ERROR_SUCCESS);
  EXPECT_EQ(CoCreateInstance(CLSID_KWZ_ScreenReceiver, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&object)),
            CO_E_DLLNOTFOUND);
  EXPECT_EQ(object, nullptr);
  // A ProgID whose CurVer points back at itself through another.
  ASSERT_EQ(kwz_test::WriteText(HKEY_CLASSES_ROOT, u"Loop.A\\CurVer", nullptr, u"Loop.B"),
            ERROR_SUCCESS);
  ASSERT_EQ(kwz_test::WriteText(HKEY_CLASSES_ROOT, u"Loop.B\\CurVer", nullptr, u"Loop.A"),
            ERROR_SUCCESS);
  CLSID clsid;
  EXPECT_EQ(CLSIDFromProgID(u"Loop.A", &clsid), CO_E_CLASSSTRING);
  ASSERT_EQ(kwz_test::WriteText(HKEY_CLASSES_ROOT, u"Bad.Id\\CLSID", nullptr, u"not a guid"),
            ERROR_SUCCESS);
  EXPECT_EQ(CLSIDFromProgID(u"Bad.Id", &clsid), CO_E_CLASSSTRING);
}

}  // namespace
