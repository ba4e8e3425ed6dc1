#include "apps/kwz-viewer/Automation.h"

#include <cstdio>

#include "platform/ocidl.h"
#include "platform/widestring.h"
#include "platform/winerror.h"

namespace kwz_viewer {
namespace {

constexpr DISPID kDispSizeUpdated = 1;

std::string TakeText(BSTR& text) {
  std::string out = text != nullptr ? Narrow(text) : "";
  SysFreeString(text);
  text = nullptr;
  return out;
}

VARIANT TextVariant(const std::u16string& text) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return value;
}

}  // namespace

bool DispatchCaller::Invoke(const char16_t* name, WORD flags, DISPPARAMS* params, VARIANT* result,
                            CallError* error) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = 0;
  HRESULT hr = target_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) {
    *error = {hr, "the control has no member " + Narrow(name)};
    return false;
  }
  EXCEPINFO exception{};
  UINT argError = 0;
  hr = target_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params, result, &exception,
                       &argError);
  if (SUCCEEDED(hr)) return true;
  std::string description = Narrow(name) + " failed";
  if (hr == DISP_E_EXCEPTION) {
    hr = exception.scode;
    const std::string text = TakeText(exception.bstrDescription);
    if (!text.empty()) description += ": " + text;
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrHelpFile);
  }
  *error = {hr, description};
  return false;
}

bool DispatchCaller::Call(const char16_t* name, const std::vector<std::u16string>& args,
                          CallError* error, std::u16string* result) {
  // DISPPARAMS take the arguments last first.
  std::vector<VARIANT> values;
  for (auto it = args.rbegin(); it != args.rend(); ++it) values.push_back(TextVariant(*it));
  DISPPARAMS params{values.data(), nullptr, static_cast<UINT>(values.size()), 0};
  VARIANT out;
  VariantInit(&out);
  const bool ok = Invoke(name, DISPATCH_METHOD, &params, &out, error);
  if (ok && result != nullptr) {
    VARIANT text;
    VariantInit(&text);
    if (SUCCEEDED(VariantChangeType(&text, &out, 0, VT_BSTR)) && text.bstrVal != nullptr) {
      *result = std::u16string(text.bstrVal, SysStringLen(text.bstrVal));
    }
    VariantClear(&text);
  }
  VariantClear(&out);
  for (VARIANT& value : values) VariantClear(&value);
  return ok;
}

bool DispatchCaller::PutText(const char16_t* name, const std::u16string& text, CallError* error) {
  VARIANT value = TextVariant(text);
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&value, &named, 1, 1};
  const bool ok = Invoke(name, DISPATCH_PROPERTYPUT, &params, nullptr, error);
  VariantClear(&value);
  return ok;
}

bool DispatchCaller::PutNumber(const char16_t* name, LONG number, CallError* error) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_I4;
  value.lVal = number;
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&value, &named, 1, 1};
  return Invoke(name, DISPATCH_PROPERTYPUT, &params, nullptr, error);
}

HRESULT SizeUpdatedSink::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, events_)) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG SizeUpdatedSink::Release() {
  const ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT SizeUpdatedSink::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_INVALIDARG;
  *count = 0;
  return S_OK;
}

HRESULT SizeUpdatedSink::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info != nullptr) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT SizeUpdatedSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
  return E_NOTIMPL;
}

HRESULT SizeUpdatedSink::Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                EXCEPINFO*, UINT*) {
  if (member != kDispSizeUpdated) return S_OK;  // events the viewer does not show
  if (params == nullptr || params->cArgs != 2) return DISP_E_BADPARAMCOUNT;
  VARIANT dx;
  VARIANT dy;
  VariantInit(&dx);
  VariantInit(&dy);
  // Arguments arrive last first: rgvarg[1] is dx.
  if (FAILED(VariantChangeType(&dx, &params->rgvarg[1], 0, VT_UI4)) ||
      FAILED(VariantChangeType(&dy, &params->rgvarg[0], 0, VT_UI4))) {
    return DISP_E_TYPEMISMATCH;
  }
  std::printf("SizeUpdated %u %u\n", static_cast<unsigned>(dx.ulVal),
              static_cast<unsigned>(dy.ulVal));
  std::fflush(stdout);
  if (listener_) listener_(dx.ulVal, dy.ulVal);
  return S_OK;
}

bool EventConnection::Advise(IUnknown* control, SizeListener listener, CallError* error) {
  IConnectionPointContainer* container = nullptr;
  HRESULT hr =
      control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
  if (FAILED(hr)) {
    *error = {hr, "the control raises no events (no IConnectionPointContainer)"};
    return false;
  }
  IEnumConnectionPoints* points = nullptr;
  hr = container->EnumConnectionPoints(&points);
  container->Release();
  if (FAILED(hr)) {
    *error = {hr, "the control's connection points cannot be listed"};
    return false;
  }
  IConnectionPoint* point = nullptr;
  ULONG fetched = 0;
  hr = points->Next(1, &point, &fetched);
  points->Release();
  if (hr != S_OK || fetched != 1) {
    *error = {FAILED(hr) ? hr : E_NOINTERFACE, "the control has no event interface"};
    return false;
  }
  IID events = IID_NULL;
  point->GetConnectionInterface(&events);
  auto* sink = new SizeUpdatedSink(events, std::move(listener));
  hr = point->Advise(sink, &cookie_);
  sink->Release();
  if (FAILED(hr)) {
    point->Release();
    *error = {hr, "the SizeUpdated sink was refused"};
    return false;
  }
  point_ = point;
  return true;
}

void EventConnection::Unadvise() {
  if (point_ == nullptr) return;
  point_->Unadvise(cookie_);
  point_->Release();
  point_ = nullptr;
}

}  // namespace kwz_viewer
