// Error information: the error object and the calling thread's slot for it.
#include <mutex>
#include <string>

#include "platform/com_object.h"
#include "platform/com_ptr.h"
#include "platform/oleauto.h"
#include "platform/widestring.h"
#include "platform/winerror.h"

namespace {

// Written by whoever creates it, read by whoever gets it later, possibly on another thread.
class ErrorObject final
    : public kwz_platform::ComObject<ErrorObject, IErrorInfo, ICreateErrorInfo> {
 public:
  using Interfaces =
      kwz_platform::ComInterfaces<kwz_platform::ComEntry<IErrorInfo, IID_IErrorInfo>,
                                  kwz_platform::ComEntry<ICreateErrorInfo, IID_ICreateErrorInfo>>;

  HRESULT GetGUID(GUID* guid) override {
    if (guid == nullptr) return E_INVALIDARG;
    std::lock_guard<std::mutex> guard(lock_);
    *guid = guid_;
    return S_OK;
  }
  HRESULT GetSource(BSTR* text) override { return Copy(source_, text); }
  HRESULT GetDescription(BSTR* text) override { return Copy(description_, text); }
  HRESULT GetHelpFile(BSTR* text) override { return Copy(helpFile_, text); }
  HRESULT GetHelpContext(DWORD* context) override {
    if (context == nullptr) return E_INVALIDARG;
    std::lock_guard<std::mutex> guard(lock_);
    *context = helpContext_;
    return S_OK;
  }

  HRESULT SetGUID(REFGUID guid) override {
    std::lock_guard<std::mutex> guard(lock_);
    guid_ = guid;
    return S_OK;
  }
  HRESULT SetSource(LPOLESTR text) override { return Store(&source_, text); }
  HRESULT SetDescription(LPOLESTR text) override { return Store(&description_, text); }
  HRESULT SetHelpFile(LPOLESTR text) override { return Store(&helpFile_, text); }
  HRESULT SetHelpContext(DWORD context) override {
    std::lock_guard<std::mutex> guard(lock_);
    helpContext_ = context;
    return S_OK;
  }

 private:
  ~ErrorObject() override = default;

  HRESULT Copy(const std::u16string& from, BSTR* to) {
    if (to == nullptr) return E_INVALIDARG;
    std::lock_guard<std::mutex> guard(lock_);
    // A text never set reads as a null BSTR.
    if (from.empty()) {
      *to = nullptr;
      return S_OK;
    }
    *to = SysAllocStringLen(from.data(), static_cast<UINT>(from.size()));
    return *to != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT Store(std::u16string* to, LPOLESTR text) {
    std::lock_guard<std::mutex> guard(lock_);
    if (text == nullptr) {
      to->clear();
    } else {
      to->assign(text, WideLength(text));
    }
    return S_OK;
  }

  std::mutex lock_;
  GUID guid_ = GUID_NULL;       // guarded by lock_
  std::u16string source_;       // guarded by lock_
  std::u16string description_;  // guarded by lock_
  std::u16string helpFile_;     // guarded by lock_
  DWORD helpContext_ = 0;       // guarded by lock_
};

thread_local CComPtr<IErrorInfo> t_errorInfo;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** info) {
  if (info == nullptr) return E_INVALIDARG;
  *info = new ErrorObject;
  return S_OK;
}

HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info) {
  if (reserved != 0) return E_INVALIDARG;
  t_errorInfo = info;
  return S_OK;
}

HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info) {
  if (reserved != 0 || info == nullptr) return E_INVALIDARG;
  *info = t_errorInfo.Detach();
  return *info != nullptr ? S_OK : S_FALSE;
}
