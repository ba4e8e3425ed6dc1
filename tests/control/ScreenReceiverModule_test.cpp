// The module as containers meet it: what registration leaves beyond the class key that
// KwzRegsvr_process_test checks, the class object, aggregation, unloading when nothing holds it,
// and the resources tools read from the file. Creation by ProgID is KwzViewer_test's.
#include <dlfcn.h>
#include <gtest/gtest.h>

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
#include "tests/platform/ComTestObjects.h"
#include "tests/platform/RegistryTestSupport.h"

namespace {

using kwz_test::KeyExists;
using kwz_test::ReadText;

const std::u16string kModule = Widen(KWZ_MODULE_PATH);
const std::u16string kClassKey = u"CLSID\\{4B575A10-5C52-4E63-9A31-0D7E6F5A1001}";
constexpr const char16_t* kAppIdKey = u"AppID\\{4B575A10-5C52-4E63-9A31-0D7E6F5A1005}";
constexpr const char16_t* kTypeLibKey = u"TypeLib\\{4B575A10-5C52-4E63-9A31-0D7E6F5A1004}";

bool ModuleLoaded() {
  void* handle = ::dlopen(KWZ_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) ::dlclose(handle);
  return handle != nullptr;
}

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitialize(nullptr), S_OK); }
  void TearDown() override {
    CoFreeUnusedLibraries();
    CoUninitialize();
    AtlSetPerUserRegistration(false);
  }

  // Runs one of the module's entry points without arguments (registration as kwz-regsvr runs
  // it, or DllCanUnloadNow of the module as activation loaded it).
  HRESULT RunEntry(const char* name, bool perUser = true) {
    AtlSetPerUserRegistration(perUser);
    HMODULE module = LoadLibraryW(kModule.c_str());
    if (module == nullptr) return E_FAIL;
    auto entry = reinterpret_cast<LPFNREGISTERSERVER>(GetProcAddress(module, name));
    const HRESULT hr = entry != nullptr ? entry() : E_FAIL;
    FreeLibrary(module);
    return hr;
  }

  kwz_test::ScopedRegistry registry_;
};

TEST_F(ModuleTest, RegistrationWritesWhatContainersReadAndUndoesOnlyItsOwn) {
  ASSERT_TRUE(SetThreadLocale(0x0407));
  ASSERT_EQ(RunEntry("DllRegisterServer"), S_OK);
  EXPECT_EQ(GetThreadLocale(), 0x0407u) << "the locale switch is undone";
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, (kClassKey + u"\\Control").c_str()));
  const std::u16string server = kClassKey + u"\\InprocServer32";
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, server.c_str()), KWZ_MODULE_PATH);
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, server.c_str(), u"ThreadingModel"), "Apartment");
  CComPtr<ITypeLib> registered;
  EXPECT_EQ(LoadRegTypeLib(LIBID_KWZ_ScreenReceiverLib, 1, 0, 1033, &registered), S_OK);
  ASSERT_EQ(RunEntry("DllUnregisterServer"), S_OK);
  for (const char16_t* gone : {u"KWZ_ScreenReceiver.KWZ_ScreenReceiver", kAppIdKey, kTypeLibKey}) {
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, gone)) << Narrow(gone);
  }
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, u"AppID"));

  // A type library that cannot be unregistered (here: no longer registered) ends
  // unregistration with its error, after the class went and before the application identity.
  ASSERT_EQ(RunEntry("DllRegisterServer"), S_OK);
  ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER,
                           (std::u16string(u"Software\\Classes\\") + kTypeLibKey).c_str()),
            ERROR_SUCCESS);
  EXPECT_EQ(RunEntry("DllUnregisterServer"), TYPE_E_REGISTRYACCESS);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey.c_str()));
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, kAppIdKey), "KWZ_ScreenReceiver");

  // Machine-wide, another class's key stays.
  ASSERT_EQ(kwz_test::WriteText(HKEY_LOCAL_MACHINE, u"Software\\Classes\\CLSID\\{Other}", nullptr,
                                u"other"),
            ERROR_SUCCESS);
  ASSERT_EQ(RunEntry("DllRegisterServer", false), S_OK);
  ASSERT_EQ(RunEntry("DllUnregisterServer", false), S_OK);
  EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, u"CLSID\\{Other}"), "other");
}

TEST_F(ModuleTest, UnloadedWhenNoControlOrLockHoldsIt) {
  ASSERT_EQ(RunEntry("DllRegisterServer"), S_OK);
  IDispatch* control = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_KWZ_ScreenReceiver, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                             reinterpret_cast<void**>(&control)),
            S_OK);
  EXPECT_EQ(RunEntry("DllCanUnloadNow"), S_FALSE);
  CoFreeUnusedLibraries();
  EXPECT_TRUE(ModuleLoaded()) << "a live control keeps its module";
  control->Release();
  EXPECT_EQ(RunEntry("DllCanUnloadNow"), S_OK);
  CoFreeUnusedLibraries();
  EXPECT_FALSE(ModuleLoaded());

  // Loaded again for the class factory, whose locks keep it until the last one goes.
  IClassFactory* factory = nullptr;
  ASSERT_EQ(CoGetClassObject(CLSID_KWZ_ScreenReceiver, CLSCTX_INPROC_SERVER, nullptr,
                             IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory->Release();
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(RunEntry("DllCanUnloadNow"), S_FALSE) << "two locks, one released";
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(RunEntry("DllCanUnloadNow"), S_OK);
}

TEST_F(ModuleTest, ClassObjectOnlyForItsOwnClassAndOnlyTheEntryPointsExported) {
  HMODULE module = LoadLibraryW(kModule.c_str());
  auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(module, "DllGetClassObject"));
  ASSERT_NE(get, nullptr);
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(get(IID_IDispatch, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(get(CLSID_KWZ_ScreenReceiver, IID_IDispatch, &object), E_NOINTERFACE);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(get(CLSID_KWZ_ScreenReceiver, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            S_OK);
  // Aggregated, the control hands out its inner IUnknown only.
  EXPECT_EQ(factory->CreateInstance(factory, IID_IDispatch, &object), CLASS_E_NOAGGREGATION);
  factory->Release();
  EXPECT_EQ(GetProcAddress(module, "_ZN19CKWZ_ScreenReceiver4InitEv"), nullptr);
  FreeLibrary(module);
}

TEST_F(ModuleTest, AggregatedControlSharesTheOuterIdentity) {
  ASSERT_EQ(RunEntry("DllRegisterServer"), S_OK);
  CComPtr<kwz_test::RecordingSink> outer;  // any object with an identity of its own
  outer.Attach(new kwz_test::RecordingSink());
  IUnknown* inner = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_KWZ_ScreenReceiver, static_cast<IDispatch*>(outer.get()),
                             CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&inner)),
            S_OK);
  EXPECT_EQ(outer->References(), 1u) << "creation does not keep the outer object alive";
  CComPtr<IDispatch> dispatch;
  ASSERT_EQ(inner->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
  EXPECT_EQ(outer->References(), 2u) << "the control's interfaces count on the outer object";
  CComPtr<IUnknown> identity;
  ASSERT_EQ(dispatch->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity.get(), static_cast<IUnknown*>(static_cast<IDispatch*>(outer.get())));
  identity.Release();
  dispatch.Release();
  EXPECT_EQ(RunEntry("DllCanUnloadNow"), S_FALSE);
  inner->Release();
  EXPECT_EQ(RunEntry("DllCanUnloadNow"), S_OK);
}

// The version record and the toolbox picture are there for tools to read from the file, and the
// type library there is the one the control answers with in memory.
TEST_F(ModuleTest, ResourcesReadFromTheFile) {
  DWORD handle = 1;
  EXPECT_GT(GetFileVersionInfoSizeW(kModule.c_str(), &handle), 0u);
  HMODULE module = LoadLibraryW(kModule.c_str());
  HBITMAP toolbox = LoadBitmapW(module, MAKEINTRESOURCEW(IDB_KWZ_SCREENRECEIVER));
  EXPECT_NE(toolbox, nullptr);
  DeleteObject(toolbox);
  FreeLibrary(module);

  DWORD bytes = 0;
  ASSERT_TRUE(kwz_platform::ReadFileResource(KWZ_MODULE_PATH, MAKEINTRESOURCEW(1), u"TYPELIB",
                                             nullptr, &bytes));
  std::vector<unsigned char> image(bytes);
  ASSERT_TRUE(kwz_platform::ReadFileResource(KWZ_MODULE_PATH, MAKEINTRESOURCEW(1), u"TYPELIB",
                                             image.data(), &bytes));
  kwz_platform::TypeLibData data;
  ASSERT_TRUE(kwz_platform::ReadTypeLibImage(image.data(), image.size(), &data));
  EXPECT_EQ(data, ScreenReceiverTypeLibData());
}

}  // namespace
