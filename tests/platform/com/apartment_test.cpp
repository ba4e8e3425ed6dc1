// Apartments across threads: Global Interface Table proxies run calls on the registering
// thread while it pumps messages or waits modally; closed apartments refuse calls. (Events
// fired on the engine's thread reaching the container's are the control's tests.)
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/kernel.h"
#include "platform/winuser.h"
#include "tests/platform/ComTestObjects.h"
#include "tests/platform/RegistryTestSupport.h"

namespace {

using kwz_test::Gauge;
using kwz_test::LiveComObjects;
using kwz_test::ScopedVariant;

CComPtr<IGlobalInterfaceTable> Git() {
  CComPtr<IGlobalInterfaceTable> git;
  EXPECT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IGlobalInterfaceTable, reinterpret_cast<void**>(&git)),
            S_OK);
  return git;
}

HRESULT InvokeNoArgs(IDispatch* object, DISPID dispid, VARIANT* result) {
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  return object->Invoke(dispid, IID_NULL, 0, DISPATCH_METHOD, &none, result, nullptr, nullptr);
}

HRESULT InvokeAdd(IDispatch* object, LONG a, LONG b, VARIANT* result) {
  VARIANT args[2];
  VariantInit(&args[0]);
  VariantInit(&args[1]);
  args[0].vt = args[1].vt = VT_I4;
  args[0].lVal = b;  // last argument first
  args[1].lVal = a;
  DISPPARAMS params{args, nullptr, 2, 0};
  return object->Invoke(kwz_test::kAdd, IID_NULL, 0, DISPATCH_METHOD, &params, result, nullptr,
                        nullptr);
}

// Runs the work other threads handed to this one and drops what was posted.
void DrainQueue() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
}

class ApartmentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    // A window of this thread, for other threads to post to.
    window_ =
        CreateWindowExW(0, u"STATIC", u"", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    DestroyWindow(window_);
    DrainQueue();
    CoUninitialize();
    EXPECT_EQ(LiveComObjects(), 0) << "every object and reference was given back";
  }

  // Pumps this thread's messages until WM_APP arrives.
  static void PumpUntilApp() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0 && message.message != WM_APP) {
      DispatchMessageW(&message);
    }
  }

  HWND window_ = nullptr;
};

TEST_F(ApartmentTest, ProxyCallsRunOnTheRegisteringThreadWhileItPumps) {
  CComPtr<Gauge> gauge;
  gauge.Attach(new Gauge);
  DWORD cookie = 0;
  ASSERT_EQ(Git()->RegisterInterfaceInGlobal(gauge, kwz_test::IID_IGauge, &cookie), S_OK);

  std::atomic<DWORD> callerThread{0};
  ULONG ranOn = 0;
  HRESULT getResult = E_FAIL, callResult = E_FAIL, failResult = E_FAIL;
  std::u16string failDescription;
  std::thread engine([&] {
    callerThread = GetCurrentThreadId();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
      CComPtr<IDispatch> proxy;
      getResult = Git()->GetInterfaceFromGlobal(cookie, kwz_test::IID_IGauge,
                                                reinterpret_cast<void**>(&proxy));
      if (proxy) {
        ScopedVariant where;
        callResult = InvokeNoArgs(proxy, kwz_test::kWhere, &where);
        ranOn = where.ulVal;
        // Error information set on the registering thread comes back with the failure.
        VARIANT why;
        VariantInit(&why);
        why.vt = VT_BSTR;
        why.bstrVal = SysAllocString(u"too wide");
        DISPPARAMS params{&why, nullptr, 1, 0};
        EXCEPINFO exception{};
        failResult = proxy->Invoke(kwz_test::kFail, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr,
                                   &exception, nullptr);
        VariantClear(&why);
        if (exception.bstrDescription != nullptr) failDescription = exception.bstrDescription;
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrHelpFile);
      }
    }
    CoUninitialize();
    PostMessageW(window_, WM_APP, 0, 0);
  });
  PumpUntilApp();
  engine.join();

  ASSERT_EQ(getResult, S_OK);
  EXPECT_EQ(callResult, S_OK);
  EXPECT_EQ(ranOn, GetCurrentThreadId()) << "the call ran in the registering apartment";
  EXPECT_NE(ranOn, callerThread.load());
  EXPECT_EQ(failResult, DISP_E_EXCEPTION);
  EXPECT_EQ(failDescription, u"too wide");

  // On its own thread the table hands out the object itself.
  CComPtr<IDispatch> direct;
  ASSERT_EQ(Git()->GetInterfaceFromGlobal(cookie, IID_IDispatch, reinterpret_cast<void**>(&direct)),
            S_OK);
  EXPECT_EQ(direct.get(), static_cast<IDispatch*>(gauge.get()));
  direct.Release();
  DrainQueue();  // the proxy's release of the gauge
  EXPECT_EQ(Git()->RevokeInterfaceFromGlobal(cookie), S_OK);
  EXPECT_EQ(Git()->RevokeInterfaceFromGlobal(cookie), E_INVALIDARG);
}

TEST_F(ApartmentTest, ModalWaitDeliversAnIncomingCallWhileWaitingForTheCaller) {
  CComPtr<Gauge> gauge;
  gauge.Attach(new Gauge);
  DWORD cookie = 0;
  ASSERT_EQ(Git()->RegisterInterfaceInGlobal(gauge, IID_IDispatch, &cookie), S_OK);

  struct Shared {
    DWORD cookie;
    HRESULT hr = E_FAIL;
    LONG sum = 0;
  } shared{cookie};
  // The engine thread calls into this apartment and ends; this thread only waits for it to
  // end. Without the wait running the call, neither would get on.
  UINT_PTR thread = _beginthreadex(
      nullptr, 0,
      [](void* argument) -> unsigned {
        auto* s = static_cast<Shared*>(argument);
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        {
          CComPtr<IDispatch> proxy;
          s->hr = Git()->GetInterfaceFromGlobal(s->cookie, IID_IDispatch,
                                                reinterpret_cast<void**>(&proxy));
          if (proxy) {
            ScopedVariant sum;
            s->hr = InvokeAdd(proxy, 40, 2, &sum);
            s->sum = sum.lVal;
          }
        }
        CoUninitialize();
        return 0;
      },
      &shared, 0, nullptr);
  ASSERT_NE(thread, 0u);
  HANDLE handle = reinterpret_cast<HANDLE>(thread);
  DWORD index = 99;
  EXPECT_EQ(CoWaitForMultipleHandles(0, 20000, 1, &handle, &index), S_OK)
      << "a time-out means the call was never delivered";
  EXPECT_EQ(index, 0u);
  CloseHandle(handle);
  EXPECT_EQ(shared.hr, S_OK);
  EXPECT_EQ(shared.sum, 42);
  EXPECT_EQ(gauge->LastThread(), GetCurrentThreadId());
  DrainQueue();
  EXPECT_EQ(Git()->RevokeInterfaceFromGlobal(cookie), S_OK);
}

TEST_F(ApartmentTest, ClosedApartmentRefusesCallsAndGivesItsObjectsBack) {
  auto done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<DWORD> cookie{0};
  std::atomic<bool> registered{false};
  std::thread container([&] {
    CoInitialize(nullptr);
    CComPtr<Gauge> gauge;
    gauge.Attach(new Gauge);
    DWORD c = 0;
    Git()->RegisterInterfaceInGlobal(gauge, IID_IDispatch, &c);
    cookie = c;
    registered = true;
    registered.notify_all();
    DWORD index = 0;
    // Serves the other thread's fetch until it is done with it.
    CoWaitForMultipleHandles(0, INFINITE, 1, &done, &index);
    CoUninitialize();  // revokes and releases the registration
  });
  registered.wait(false);
  CComPtr<IDispatch> proxy;
  const HRESULT fetched =
      Git()->GetInterfaceFromGlobal(cookie, IID_IDispatch, reinterpret_cast<void**>(&proxy));
  SetEvent(done);
  container.join();
  ASSERT_EQ(fetched, S_OK);
  ScopedVariant where;
  EXPECT_EQ(InvokeNoArgs(proxy, kwz_test::kWhere, &where), RPC_E_DISCONNECTED);
  EXPECT_EQ(Git()->RevokeInterfaceFromGlobal(cookie), E_INVALIDARG);
  proxy.Release();  // the thread is gone: the gauge is released here
  CloseHandle(done);
}

TEST(ApartmentRulesTest, InitialisationAndTableArguments) {
  std::thread([] {
    CComPtr<Gauge> gauge;
    gauge.Attach(new Gauge);
    DWORD cookie = 5;
    EXPECT_EQ(Git()->RegisterInterfaceInGlobal(gauge, IID_IDispatch, &cookie), CO_E_NOTINITIALIZED);
    EXPECT_EQ(cookie, 0u);

    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    EXPECT_EQ(Git()->RegisterInterfaceInGlobal(gauge, kwz_test::IID_GaugeEvents, &cookie),
              E_NOINTERFACE);
    ASSERT_EQ(Git()->RegisterInterfaceInGlobal(gauge, IID_IDispatch, &cookie), S_OK);
    HRESULT otherIid = S_OK;
    std::thread([&] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      IUnknown* object = nullptr;
      otherIid =
          Git()->GetInterfaceFromGlobal(cookie, IID_ITypeInfo, reinterpret_cast<void**>(&object));
      CoUninitialize();
    }).join();
    EXPECT_EQ(otherIid, E_NOINTERFACE) << "only dispatch interfaces cross apartments";
    CoUninitialize();  // the last one: the registration goes with the apartment
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    IUnknown* object = nullptr;
    EXPECT_EQ(
        Git()->GetInterfaceFromGlobal(cookie, IID_IDispatch, reinterpret_cast<void**>(&object)),
        E_INVALIDARG);
    CoUninitialize();
  }).join();
  EXPECT_EQ(LiveComObjects(), 0);

  // Classes other than the table's are looked up in the registry, and only from an apartment.
  IUnknown* object = nullptr;
  EXPECT_EQ(CoCreateInstance(kwz_test::IID_IGauge, nullptr, CLSCTX_ALL, IID_IUnknown,
                             reinterpret_cast<void**>(&object)),
            CO_E_NOTINITIALIZED);
  {
    kwz_test::ScopedRegistry registry;
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoCreateInstance(kwz_test::IID_IGauge, nullptr, CLSCTX_ALL, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
              REGDB_E_CLASSNOTREG);
    CoUninitialize();
  }
  HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD index = 0;
  EXPECT_EQ(CoWaitForMultipleHandles(0, 1, 1, &never, &index), RPC_S_CALLPENDING);
  CloseHandle(never);
  EXPECT_EQ(CoWaitForMultipleHandles(0, 1, 1, &never, &index), E_INVALIDARG);
}

}  // namespace
