// COM objects for the platform tests: a small automation class described by a dispatch table,
// and an event sink that records what it receives. Both count themselves so tests can tell
// that every reference was given back.
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

// {6A1B0C2D-3E4F-4A5B-8C6D-7E8F90A1B2C3}
inline const IID IID_IGauge = {
    0x6A1B0C2D, 0x3E4F, 0x4A5B, {0x8C, 0x6D, 0x7E, 0x8F, 0x90, 0xA1, 0xB2, 0xC3}};
// {6A1B0C2D-3E4F-4A5B-8C6D-7E8F90A1B2C4}
inline const IID IID_GaugeEvents = {
    0x6A1B0C2D, 0x3E4F, 0x4A5B, {0x8C, 0x6D, 0x7E, 0x8F, 0x90, 0xA1, 0xB2, 0xC4}};

enum GaugeDispid : DISPID { kWidth = 1, kLabel = 2, kAdd = 3, kFail = 4, kWhere = 5 };

class Gauge final
    : public kwz_platform::ComObject<Gauge, kwz_platform::DispatchImpl<Gauge, IDispatch>> {
 public:
  using Interfaces =
      kwz_platform::ComInterfaces<kwz_platform::ComEntry<IDispatch, IID_IDispatch, IID_IGauge>>;

  Gauge() { ++LiveComObjects(); }

  static const kwz_platform::DispatchTypeInfo& DispatchInfo() {
    using namespace kwz_platform;
    static auto* info =
        new DispatchTypeInfo(IID_IGauge, u"IGauge", u"IGauge Interface",
                             {DispPropGet<&Gauge::get_Width>(u"Width", kWidth, u"property Width"),
                              DispPropPut<&Gauge::put_Width>(u"Width", kWidth, u"property Width"),
                              DispPropGet<&Gauge::get_Label>(u"Label", kLabel, u"property Label"),
                              DispPropPut<&Gauge::put_Label>(u"Label", kLabel, u"property Label"),
                              DispMethod<&Gauge::Add>(u"Add", kAdd, u"method Add", {u"a", u"b"}),
                              DispMethod<&Gauge::Fail>(u"Fail", kFail, u"method Fail", {u"why"}),
                              DispMethod<&Gauge::Where>(u"Where", kWhere, u"method Where")});
    return *info;
  }

  // Its interface belongs to no library: a library of its own describes it.
  HRESULT GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    static ITypeLib* lib = [] {
      ITypeLib* made = nullptr;
      kwz_platform::CreateTypeLibFromData(
          {GUID_NULL, 0, 1, 0, 0, u"Gauge", u"", {DispatchInfo().Describe()}}, &made);
      return made;
    }();
    *info = nullptr;
    return index == 0 ? lib->GetTypeInfo(0, info) : DISP_E_BADINDEX;
  }

  HRESULT get_Width(LONG* value) {
    *value = width_;
    return S_OK;
  }
  HRESULT put_Width(LONG value) {
    width_ = value;
    return S_OK;
  }
  HRESULT get_Label(BSTR* value) {
    *value = SysAllocStringLen(label_.data(), static_cast<UINT>(label_.size()));
    return *value != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT put_Label(BSTR value) {
    label_.assign(value != nullptr ? value : u"", SysStringLen(value));
    return S_OK;
  }
  HRESULT Add(LONG a, LONG b, LONG* sum) {
    *sum = a + b;
    lastThread_ = GetCurrentThreadId();
    return S_OK;
  }
  // Fails with E_INVALIDARG, describing why through the thread's error information.
  HRESULT Fail(BSTR why) {
    CComPtr<ICreateErrorInfo> create;
    CreateErrorInfo(&create);
    create->SetDescription(why);
    create->SetSource(const_cast<LPOLESTR>(u"Gauge"));
    CComPtr<IErrorInfo> info;
    create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
    SetErrorInfo(0, info);
    return E_INVALIDARG;
  }
  HRESULT Where(ULONG* thread) {
    *thread = GetCurrentThreadId();
    lastThread_ = *thread;
    return S_OK;
  }

  DWORD LastThread() const { return lastThread_; }

 private:
  ~Gauge() override { --LiveComObjects(); }

  LONG width_ = 0;
  std::u16string label_;
  std::atomic<DWORD> lastThread_{0};
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
  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
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

// Raises the events of IID_GaugeEvents.
class Raiser final : public kwz_platform::ComObject<Raiser, IConnectionPointContainer> {
 public:
  using Interfaces = kwz_platform::ComInterfaces<
      kwz_platform::ComEntry<IConnectionPointContainer, IID_IConnectionPointContainer>>;

  Raiser() { ++LiveComObjects(); }
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) override {
    return kwz_platform::EnumerateConnectionPoints({&point_}, points);
  }
  HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
    return kwz_platform::FindConnectionPointAmong({&point_}, iid, point);
  }

  kwz_platform::DispatchConnectionPoint& Point() { return point_; }

 private:
  ~Raiser() override { --LiveComObjects(); }

  kwz_platform::DispatchConnectionPoint point_{this, IID_GaugeEvents};
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
  ScopedBstr() = default;
  ~ScopedBstr() { SysFreeString(value); }
  ScopedBstr(const ScopedBstr&) = delete;
  ScopedBstr& operator=(const ScopedBstr&) = delete;
  std::u16string Text() const { return value ? std::u16string(value, SysStringLen(value)) : u""; }
  BSTR value = nullptr;
};

}  // namespace kwz_test
