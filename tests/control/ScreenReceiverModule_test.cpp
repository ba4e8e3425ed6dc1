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

  const std::string module = Narrow(kModule.c_str());
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, Sub(kClassKey, u"Control").c_str()));
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, Sub(kClassKey, u"InprocServer32").c_str()), module);
  EXPECT_EQ(
      ReadText(HKEY_CLASSES_ROOT, Sub(kClassKey, u"InprocServer32").c_str(), u"ThreadingModel"),
      "Apartment");
  CComPtr<ITypeLib> registered;
  EXPECT_EQ(LoadRegTypeLib(LIBID_KWZ_ScreenReceiverLib, 1, 0, 1033, &registered), S_OK);
  // Per-user registration leaves the machine alone.
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Sub(u"Software\\Classes", kClassKey).c_str()));

  ASSERT_EQ(RunEntry("DllUnregisterServer", true), S_OK);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"KWZ_ScreenReceiver.KWZ_ScreenReceiver"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kAppIdKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"TypeLib\\{4B575A10-5C52-4E63-9A31-0D7E6F5A1004}"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"AppID"));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"CLSID"));
  EXPECT_EQ(CLSIDFromProgID(kScreenReceiverIndependentProgId, &clsid), CO_E_CLASSSTRING);

  // A type library that cannot be unregistered (here: no longer registered) ends
  // unregistration with its error, after the class went and before the application identity.
  ASSERT_EQ(RunEntry("DllRegisterServer", true), S_OK);
  ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER,
                           u"Software\\Classes\\TypeLib\\{4B575A10-5C52-4E63-9A31-0D7E6F5A1004}"),
            ERROR_SUCCESS);
  EXPECT_EQ(RunEntry("DllUnregisterServer", true), TYPE_E_REGISTRYACCESS);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, kAppIdKey), "KWZ_ScreenReceiver");
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"AppID\\KWZ_ScreenReceiver.DLL"));
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

TEST_F(ModuleTest, CreatedByProgIdAndUnloadedWhenNoControlOrLockHoldsIt) {
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

  // Loaded again for the class factory, whose locks keep it until the last one goes.
  IClassFactory* factory = nullptr;
  ASSERT_EQ(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory->Release();
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
  dispatch->Release();

  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  outer->Release();
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

// The version record and the toolbox picture, as tools read them from the file.
TEST_F(ModuleTest, VersionRecordAndToolboxBitmapReadFromTheFile) {
  DWORD handle = 1;
  const DWORD size = GetFileVersionInfoSizeW(kModule.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::string block(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoW(kModule.c_str(), handle, size, block.data()));
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), u"\\", &value, &length));
  EXPECT_EQ(static_cast<const VS_FIXEDFILEINFO*>(value)->dwSignature, 0xFEEF04BDu);

  HMODULE module = LoadLibraryW(kModule.c_str());
  HBITMAP toolbox = LoadBitmapW(module, MAKEINTRESOURCEW(IDB_KWZ_SCREENRECEIVER));
  FreeLibrary(module);
  BITMAP picture{};
  ASSERT_EQ(GetObjectW(toolbox, sizeof picture, &picture), static_cast<int>(sizeof picture));
  const auto* pixels = static_cast<const std::uint32_t*>(picture.bmBits);
  const int count = picture.bmWidth * picture.bmHeight;
  ASSERT_GT(count, 0);
  EXPECT_TRUE(std::any_of(pixels, pixels + count, [&](std::uint32_t pixel) {
    return pixel != pixels[0];
  })) << "a picture, not a plain square";
  EXPECT_TRUE(DeleteObject(toolbox));
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

}  // namespace
