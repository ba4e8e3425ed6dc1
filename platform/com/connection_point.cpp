// Connection points over the Global Interface Table, and snapshot enumerators.
#include "platform/connection_point.h"

#include <algorithm>
#include <new>

#include "platform/com_object.h"
#include "platform/winerror.h"

namespace kwz_platform {
namespace {

void Hold(CONNECTDATA& item) {
  if (item.pUnk != nullptr) item.pUnk->AddRef();
}
void Drop(CONNECTDATA& item) {
  if (item.pUnk != nullptr) item.pUnk->Release();
}
void Hold(STATDATA& item) {
  if (item.pAdvSink != nullptr) item.pAdvSink->AddRef();
}
void Drop(STATDATA& item) {
  if (item.pAdvSink != nullptr) item.pAdvSink->Release();
}
void Hold(IConnectionPoint* item) {
  item->AddRef();
}
void Drop(IConnectionPoint* item) {
  item->Release();
}

// Enumerates a copy of the items taken when it was made; each holds its own references.
template <typename Interface, typename Item, const IID& kIid>
class SnapshotEnum final : public ComObject<SnapshotEnum<Interface, Item, kIid>, Interface> {
 public:
  using Interfaces = ComInterfaces<ComEntry<Interface, kIid>>;

  SnapshotEnum(std::vector<Item> items, std::size_t at) : items_(std::move(items)), at_(at) {
    for (Item& item : items_) Hold(item);
  }

  HRESULT Next(ULONG count, Item* out, ULONG* fetched) override {
    if (out == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
    ULONG given = 0;
    while (given < count && at_ < items_.size()) {
      out[given] = items_[at_++];
      Hold(out[given++]);
    }
    if (fetched != nullptr) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    const std::size_t left = items_.size() - at_;
    at_ += std::min<std::size_t>(count, left);
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    at_ = 0;
    return S_OK;
  }
  HRESULT Clone(Interface** copy) override {
    if (copy == nullptr) return E_POINTER;
    *copy = new SnapshotEnum(items_, at_);
    return S_OK;
  }

 private:
  ~SnapshotEnum() override {
    for (Item& item : items_) Drop(item);
  }

  std::vector<Item> items_;
  std::size_t at_;
};

constexpr std::size_t kFirstSlots = 4;

}  // namespace

DispatchConnectionPoint::DispatchConnectionPoint(IConnectionPointContainer* owner,
                                                 const IID& eventIid, IGlobalInterfaceTable* table)
    : owner_(owner), eventIid_(eventIid), table_(table) {
  if (table_ == nullptr) {
    CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                     IID_IGlobalInterfaceTable, reinterpret_cast<void**>(&table_));
  }
}

DispatchConnectionPoint::~DispatchConnectionPoint() {
  for (DWORD cookie : slots_) {
    if (cookie != 0) table_->RevokeInterfaceFromGlobal(cookie);
  }
}

HRESULT DispatchConnectionPoint::QueryInterface(REFIID iid, void** object) {
  return QueryInterfaceFromMap(this, iid, object);
}

HRESULT DispatchConnectionPoint::GetConnectionInterface(IID* iid) {
  if (iid == nullptr) return E_POINTER;
  *iid = eventIid_;
  return S_OK;
}

HRESULT DispatchConnectionPoint::GetConnectionPointContainer(
    IConnectionPointContainer** container) {
  if (container == nullptr) return E_POINTER;
  *container = owner_;
  owner_->AddRef();
  return S_OK;
}

HRESULT DispatchConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (sink == nullptr || cookie == nullptr) {
    if (cookie != nullptr) *cookie = 0;
    return E_POINTER;
  }
  *cookie = 0;
  CComPtr<IUnknown> events;
  HRESULT hr = sink->QueryInterface(eventIid_, reinterpret_cast<void**>(&events));
  if (hr == E_NOINTERFACE) return CONNECT_E_CANNOTCONNECT;
  if (FAILED(hr)) return hr;
  if (!table_) return E_UNEXPECTED;
  DWORD registration = 0;
  hr = table_->RegisterInterfaceInGlobal(events, eventIid_, &registration);
  if (FAILED(hr)) return hr;
  std::lock_guard<std::mutex> guard(lock_);
  try {
    if (slots_.empty()) slots_.resize(kFirstSlots, 0);
    std::size_t slot = 0;
    while (slot < slots_.size() && slots_[slot] != 0) ++slot;
    if (slot == slots_.size()) slots_.resize(slots_.size() * 2, 0);
    slots_[slot] = registration;
    *cookie = static_cast<DWORD>(slot + 1);
    return S_OK;
  } catch (const std::bad_alloc&) {
    table_->RevokeInterfaceFromGlobal(registration);
    return CONNECT_E_ADVISELIMIT;
  }
}

HRESULT DispatchConnectionPoint::Unadvise(DWORD cookie) {
  DWORD registration = 0;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (cookie == 0 || cookie > slots_.size() || slots_[cookie - 1] == 0) {
      return CONNECT_E_NOCONNECTION;
    }
    registration = slots_[cookie - 1];
    slots_[cookie - 1] = 0;
  }
  return table_->RevokeInterfaceFromGlobal(registration);
}

HRESULT DispatchConnectionPoint::EnumConnections(IEnumConnections** connections) {
  if (connections == nullptr) return E_POINTER;
  std::vector<std::pair<DWORD, DWORD>> live;  // connection cookie, table cookie
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      if (slots_[i] != 0) live.emplace_back(static_cast<DWORD>(i + 1), slots_[i]);
    }
  }
  std::vector<CONNECTDATA> items;
  for (auto [cookie, registration] : live) {
    CComPtr<IUnknown> sink;
    if (SUCCEEDED(table_->GetInterfaceFromGlobal(registration, IID_IUnknown,
                                                 reinterpret_cast<void**>(&sink)))) {
      items.push_back(CONNECTDATA{sink.Detach(), cookie});
    }
  }
  *connections = new SnapshotEnum<IEnumConnections, CONNECTDATA, IID_IEnumConnections>(items, 0);
  for (CONNECTDATA& item : items) item.pUnk->Release();  // the enumerator holds its own
  return S_OK;
}

HRESULT DispatchConnectionPoint::Fire(DISPID dispid, const VARIANT* args, UINT count) {
  std::vector<VARIANT> reversed(args, args + count);
  std::reverse(reversed.begin(), reversed.end());
  std::size_t size;
  {
    std::lock_guard<std::mutex> guard(lock_);
    size = slots_.size();
  }
  HRESULT hr = S_OK;
  for (std::size_t i = 0; i < size; ++i) {
    DWORD registration = 0;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (i < slots_.size()) registration = slots_[i];
    }
    if (registration == 0) continue;
    // Fetched outside the lock: from another thread this waits for the sink's apartment,
    // which may itself be advising or unadvising. A sink revoked meanwhile is not found.
    CComPtr<IDispatch> sink;
    if (FAILED(table_->GetInterfaceFromGlobal(registration, eventIid_,
                                              reinterpret_cast<void**>(&sink)))) {
      continue;
    }
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, count, 0};
    VARIANT result;
    VariantInit(&result);
    hr = sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                      nullptr, nullptr);
    VariantClear(&result);
  }
  return hr;
}

HRESULT FindConnectionPointAmong(const std::vector<IConnectionPoint*>& points, REFIID iid,
                                 IConnectionPoint** found) {
  if (found == nullptr) return E_POINTER;
  *found = nullptr;
  for (IConnectionPoint* point : points) {
    IID events;
    if (SUCCEEDED(point->GetConnectionInterface(&events)) && IsEqualIID(events, iid)) {
      point->AddRef();
      *found = point;
      return S_OK;
    }
  }
  return CONNECT_E_NOCONNECTION;
}

HRESULT EnumerateConnectionPoints(const std::vector<IConnectionPoint*>& points,
                                  IEnumConnectionPoints** out) {
  if (out == nullptr) return E_POINTER;
  *out = new SnapshotEnum<IEnumConnectionPoints, IConnectionPoint*, IID_IEnumConnectionPoints>(
      points, 0);
  return S_OK;
}

HRESULT EnumerateAdvises(const std::vector<STATDATA>& advises, IEnumSTATDATA** out) {
  if (out == nullptr) return E_POINTER;
  *out = new SnapshotEnum<IEnumSTATDATA, STATDATA, IID_IEnumSTATDATA>(advises, 0);
  return S_OK;
}

}  // namespace kwz_platform
