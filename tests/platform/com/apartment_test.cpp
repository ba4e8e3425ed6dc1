// Apartments across threads where the control's tests do not reach: closed apartments refuse
// calls, and the table's and initialisation's refusals. (Proxy calls run on the registering
// thread while it pumps or waits modally are the control's tests.)
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/kernel.h"
#include "platform/winuser.h"
#include "tests/platform/ComTestObjects.h"

namespace {

using kwz_test::Gauge;
using kwz_test::LiveComObjects;

CComPtr<IGlobalInterfaceTable> Git() {
  CComPtr<IGlobalInterfaceTable> git;
  EXPECT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IGlobalInterfaceTable, reinterpret_cast<void**>(&git)),
            S_OK);
  return git;
}

TEST(ApartmentTest, ClosedApartmentRefusesCallsAndGivesItsObjectsBack) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  auto done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<DWORD> cookie{0};
  std::thread container([&] {
    CoInitialize(nullptr);
    CComPtr<Gauge> gauge;
    gauge.Attach(new Gauge);
    DWORD c = 0;
    Git()->RegisterInterfaceInGlobal(gauge, IID_IDispatch, &c);
    cookie = c;
    cookie.notify_all();
    DWORD index = 0;
    // Serves the other thread's fetch until it is done with it.
    CoWaitForMultipleHandles(0, INFINITE, 1, &done, &index);
    CoUninitialize();  // revokes and releases the registration
  });
  cookie.wait(0);
  CComPtr<IDispatch> proxy;
  const HRESULT fetched =
      Git()->GetInterfaceFromGlobal(cookie, IID_IDispatch, reinterpret_cast<void**>(&proxy));
  SetEvent(done);
  container.join();
  ASSERT_EQ(fetched, S_OK);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(proxy->Invoke(kwz_test::kWidth, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, nullptr,
                          nullptr, nullptr),
            RPC_E_DISCONNECTED);
  EXPECT_EQ(Git()->RevokeInterfaceFromGlobal(cookie), E_INVALIDARG);
  proxy.Release();  // the thread is gone: the gauge is released here
  CloseHandle(done);
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
  CoUninitialize();
  EXPECT_EQ(LiveComObjects(), 0) << "every object and reference was given back";
}

TEST(ApartmentRulesTest, InitialisationAndTableArguments) {
  std::thread([] {
    CComPtr<Gauge> gauge;
    gauge.Attach(new Gauge);
    DWORD cookie = 5;
    EXPECT_EQ(Git()->RegisterInterfaceInGlobal(gauge, IID_IDispatch, &cookie), CO_E_NOTINITIALIZED);
    EXPECT_EQ(cookie, 0u);

    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);  // counted: the uninitialise below leaves one
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
  HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD index = 0;
  EXPECT_EQ(CoWaitForMultipleHandles(0, 1, 1, &never, &index), RPC_S_CALLPENDING);
  CloseHandle(never);
  EXPECT_EQ(CoWaitForMultipleHandles(0, 1, 1, &never, &index), E_INVALIDARG);
}

}  // namespace
