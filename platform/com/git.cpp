// The Global Interface Table and the proxies it hands to other apartments.
#include <mutex>
#include <unordered_map>

#include "platform/com_object.h"
#include "platform/com_ptr.h"
#include "platform/oleauto.h"
#include "platform/winerror.h"

#include "com/apartment.h"

namespace kwz_platform {
namespace {

// Stands for a dispatch interface of another apartment in the thread that fetched it: each
// call runs on the interface's own thread while the caller waits.
class DispatchProxy final : public ComObject<DispatchProxy, IDispatch> {
 public:
  using Interfaces = ComInterfaces<ComEntry<IDispatch, IID_IDispatch>>;

  // Takes over the reference to target, which belongs to home.
  DispatchProxy(std::shared_ptr<ThreadQueue> home, IDispatch* target, const IID& iid)
      : home_(std::move(home)), target_(target), iid_(iid) {}

  // The dispinterface it stands for, known only when it is made.
  void* FindInterface(REFIID iid) {
    return IsEqualIID(iid, iid_) ? static_cast<IDispatch*>(this) : nullptr;
  }

  HRESULT GetTypeInfoCount(UINT* count) override {
    return CallInApartment(home_, [&] { return target_->GetTypeInfoCount(count); });
  }
  HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
    return CallInApartment(home_, [&] { return target_->GetTypeInfo(index, locale, info); });
  }
  HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                        DISPID* dispids) override {
    return CallInApartment(
        home_, [&] { return target_->GetIDsOfNames(iid, names, count, locale, dispids); });
  }
  HRESULT Invoke(DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* exception, UINT* argError) override {
    return CallInApartment(home_, [&] {
      return target_->Invoke(member, iid, locale, flags, params, result, exception, argError);
    });
  }

 private:
  ~DispatchProxy() override { ReleaseInApartment(home_, target_); }

  const std::shared_ptr<ThreadQueue> home_;
  IDispatch* const target_;
  const IID iid_;
};

struct Entry {
  IUnknown* object;  // one reference, released on home's thread
  IID iid;
  std::shared_ptr<ThreadQueue> home;  // null: the multithreaded apartment
};

class GlobalInterfaceTable final : public IGlobalInterfaceTable {
 public:
  using Interfaces = ComInterfaces<ComEntry<IGlobalInterfaceTable, IID_IGlobalInterfaceTable>>;

  HRESULT QueryInterface(REFIID iid, void** object) override {
    return QueryInterfaceFromMap(this, iid, object);
  }
  // One table for the process's lifetime.
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }

  HRESULT RegisterInterfaceInGlobal(IUnknown* object, REFIID iid, DWORD* cookie) override {
    if (cookie == nullptr) return E_INVALIDARG;
    *cookie = 0;
    if (object == nullptr) return E_INVALIDARG;
    if (!ComInitializedHere()) return CO_E_NOTINITIALIZED;
    IUnknown* held = nullptr;
    HRESULT hr = object->QueryInterface(iid, reinterpret_cast<void**>(&held));
    if (FAILED(hr)) return hr;
    std::lock_guard<std::mutex> guard(lock_);
    const DWORD assigned = next_++;
    entries_.emplace(assigned, Entry{held, iid, CurrentApartment()});
    *cookie = assigned;
    return S_OK;
  }

  HRESULT RevokeInterfaceFromGlobal(DWORD cookie) override {
    Entry entry;
    {
      std::lock_guard<std::mutex> guard(lock_);
      auto it = entries_.find(cookie);
      if (it == entries_.end()) return E_INVALIDARG;
      entry = it->second;
      entries_.erase(it);
    }
    ReleaseInApartment(entry.home, entry.object);
    return S_OK;
  }

  HRESULT GetInterfaceFromGlobal(DWORD cookie, REFIID iid, void** object) override {
    if (object == nullptr) return E_INVALIDARG;
    *object = nullptr;
    if (!ComInitializedHere()) return CO_E_NOTINITIALIZED;
    std::shared_ptr<ThreadQueue> home;
    IID registered;
    {
      std::lock_guard<std::mutex> guard(lock_);
      auto it = entries_.find(cookie);
      if (it == entries_.end()) return E_INVALIDARG;
      home = it->second.home;
      registered = it->second.iid;
    }
    const bool direct = !home || home == CurrentApartment();
    const bool proxiable = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
                           IsEqualIID(iid, registered);
    if (!direct && !proxiable) return E_NOINTERFACE;
    // The entry is read again on home's thread: it may have been revoked meanwhile.
    void* found = nullptr;
    HRESULT hr = CallInApartment(home, [&]() -> HRESULT {
      IUnknown* target = nullptr;
      {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = entries_.find(cookie);
        if (it == entries_.end()) return E_INVALIDARG;
        target = it->second.object;
        target->AddRef();
      }
      HRESULT got = target->QueryInterface(direct ? iid : IID_IDispatch, &found);
      target->Release();
      return got;
    });
    if (FAILED(hr)) return hr;
    if (direct) {
      *object = found;
      return S_OK;
    }
    auto* proxy = new DispatchProxy(home, static_cast<IDispatch*>(found), registered);
    *object = static_cast<IDispatch*>(proxy);
    return S_OK;
  }

  void RevokeApartment(ThreadQueue* home) {
    std::vector<IUnknown*> released;
    {
      std::lock_guard<std::mutex> guard(lock_);
      for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->second.home.get() == home) {
          released.push_back(it->second.object);
          it = entries_.erase(it);
        } else {
          ++it;
        }
      }
    }
    for (IUnknown* object : released) object->Release();
  }

 private:
  std::mutex lock_;
  std::unordered_map<DWORD, Entry> entries_;  // guarded by lock_
  DWORD next_ = 0x100;                        // guarded by lock_
};

GlobalInterfaceTable& Table() {
  static auto* table = new GlobalInterfaceTable;  // never destroyed: proxies may outlive main
  return *table;
}

}  // namespace

void RevokeApartmentInterfaces(ThreadQueue* home) {
  Table().RevokeApartment(home);
}

}  // namespace kwz_platform

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                         void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_StdGlobalInterfaceTable)) {
    return kwz_platform::CreateRegisteredInstance(clsid, outer, context, iid, object);
  }
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  return kwz_platform::Table().QueryInterface(iid, object);
}
