// COM objects for the platform and control tests: a small automation class described by a
// dispatch table, and an event sink that records what it receives. Both count themselves so
// tests can tell that every reference was given back.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com_object.h"
#include "platform/com_ptr.h"
#include "platform/connection_point.h"
#include "platform/dispatch_table.h"
#include "platform/kernel.h"
#include "platform/ocidl.h"
#include "platform/widestring.h"
#include "platform/winerror.h"

namespace kwz_test {

// Objects of the classes below alive now.
inline std::atomic<int>& LiveComObjects() {
  static std::atomic<int> live{0};
  return live;
}

inline const IID IID_IGauge = {
    0x6A1B0C2D, 0x3E4F, 0x4A5B, {0x8C, 0x6D, 0x7E, 0x8F, 0x90, 0xA1, 0xB2, 0xC3}};
inline const IID IID_GaugeEvents = {
    0x6A1B0C2D, 0x3E4F, 0x4A5B, {0x8C, 0x6D, 0x7E, 0x8F, 0x90, 0xA1, 0xB2, 0xC4}};

enum GaugeDispid : DISPID { kWidth = 1, kAdd = 2, kFail = 3 };

class Gauge final
    : public kwz_platform::ComObject<Gauge, kwz_platform::DispatchImpl<Gauge, IDispatch>> {
 public:
  using Interfaces =
      kwz_platform::ComInterfaces<kwz_platform::ComEntry<IDispatch, IID_IDispatch, IID_IGauge>>;

  Gauge() { ++LiveComObjects(); }

  static const kwz_platform::DispatchTypeInfo& DispatchInfo() {
    using namespace kwz_platform;
    static auto* info =
        new DispatchTypeInfo(IID_IGauge, u"IGauge", u"",
                             {DispPropGet<&Gauge::get_Width>(u"Width", kWidth, u""),
                              DispPropPut<&Gauge::put_Width>(u"Width", kWidth, u""),
                              DispMethod<&Gauge::Add>(u"Add", kAdd, u"", {u"a", u"b"}),
                              DispMethod<&Gauge::Fail>(u"Fail", kFail, u"")});
    return *info;
  }
  // Its interface belongs to no library.
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    return *info = nullptr, TYPE_E_ELEMENTNOTFOUND;
  }

  HRESULT get_Width(LONG* value) { return *value = width_, S_OK; }
  HRESULT put_Width(LONG value) { return width_ = value, S_OK; }
  HRESULT Add(LONG a, LONG b, LONG* sum) { return *sum = a + b, S_OK; }
  HRESULT Fail() { return E_INVALIDARG; }  // describes nothing through error information

 private:
  ~Gauge() override { --LiveComObjects(); }

  LONG width_ = 0;
};

// Receives the events of one dispinterface (IID_GaugeEvents unless told) through
// IDispatch::Invoke; with givesEvents false it refuses to be that interface.
class RecordingSink : public kwz_platform::ComObject<RecordingSink, IDispatch> {
 public:
  using Interfaces = kwz_platform::ComInterfaces<kwz_platform::ComEntry<IDispatch, IID_IDispatch>>;

  struct Call {
    DISPID dispid;
    std::vector<ULONG> args;  // as the sink's parameters read, first first
    DWORD thread;
  };

  explicit RecordingSink(bool givesEvents = true, const IID& events = IID_GaugeEvents)
      : givesEvents_(givesEvents), events_(events) {
    ++LiveComObjects();
  }

  void* FindInterface(REFIID iid) {
    return givesEvents_ && IsEqualIID(iid, events_) ? static_cast<IDispatch*>(this) : nullptr;
  }
  HRESULT GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO*, UINT*) override {
    if (flags != DISPATCH_METHOD || result == nullptr) return E_INVALIDARG;
    Call call{dispid, {}, GetCurrentThreadId()};
    for (UINT i = params->cArgs; i-- > 0;) {
      if (params->rgvarg[i].vt != VT_UI4) return DISP_E_TYPEMISMATCH;
      call.args.push_back(params->rgvarg[i].ulVal);
    }
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(call);
    return S_OK;
  }

  std::vector<Call> Calls() {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
  }

 protected:
  ~RecordingSink() override { --LiveComObjects(); }

 private:
  const bool givesEvents_;
  const IID events_;
  std::mutex lock_;
  std::vector<Call> calls_;  // guarded by lock_
};

// A VARIANT that clears itself.
struct ScopedVariant : VARIANT {
  ScopedVariant() { VariantInit(this); }
  ~ScopedVariant() { VariantClear(this); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
};

// A BSTR that frees itself.
struct ScopedBstr {
  explicit ScopedBstr(const char16_t* text) : value(SysAllocString(text)) {}
  ~ScopedBstr() { SysFreeString(value); }
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  BSTR value = nullptr;
};

}  // namespace kwz_test
