// IUnknown written once: an object lists the interfaces it answers to in an interface map, and
// ComObject supplies QueryInterface, AddRef and Release from it, as the control framework's
// object root and COM map do.
//
//   class Sink final : public kwz_platform::ComObject<Sink, IDispatch> {
//    public:
//     using Interfaces = kwz_platform::ComInterfaces<
//         kwz_platform::ComEntry<IDispatch, IID_IDispatch, IID_ISinkEvents>>;
//     ...
//    private:
//     ~Sink() override = default;  // objects die through Release
//   };
//
// IID_IUnknown always gives the first entry's interface, the object's identity. An object that
// answers to an IID known only at run time also defines `void* FindInterface(REFIID iid)`,
// asked after the map.
//
// Ownership: an object starts with one reference, held by its creator. Threads: the count is
// atomic, so references may be taken and given back on any thread.
#pragma once

#include <atomic>

#include "platform/com.h"
#include "platform/winerror.h"

#pragma GCC visibility push(default)

namespace kwz_platform {

// One row of an interface map: interface I of the object answers to each of kIids.
template <typename I, const IID&... kIids>
struct ComEntry {
  using Interface = I;
  template <typename T>
  static void* Find(T* self, REFIID iid) {
    return (IsEqualIID(iid, kIids) || ...) ? static_cast<I*>(self) : nullptr;
  }
};

template <typename First, typename... Rest>
struct ComInterfaces {
  template <typename T>
  static void* Find(T* self, REFIID iid) {
    if (IsEqualIID(iid, IID_IUnknown)) {
      return static_cast<IUnknown*>(static_cast<typename First::Interface*>(self));
    }
    void* found = First::Find(self, iid);
    ((found = found != nullptr ? found : Rest::Find(self, iid)), ...);
    return found;
  }
};

// QueryInterface of self through T's map (and T::FindInterface when it has one), for objects
// whose reference counting is someone else's: the answer is AddRef'ed through it.
template <typename T>
HRESULT QueryInterfaceFromMap(T* self, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  void* found = T::Interfaces::Find(self, iid);
  if constexpr (requires { self->FindInterface(iid); }) {
    if (found == nullptr) found = self->FindInterface(iid);
  }
  *object = found;
  if (found == nullptr) return E_NOINTERFACE;
  static_cast<IUnknown*>(found)->AddRef();
  return S_OK;
}

// The reference-counted root of Derived, which derives from it and lists its map in
// Derived::Interfaces. Bases are the interfaces (or interface implementations) it inherits.
template <typename Derived, typename... Bases>
class ComObject : public Bases... {
 public:
  HRESULT QueryInterface(REFIID iid, void** object) override {
    return QueryInterfaceFromMap(static_cast<Derived*>(this), iid, object);
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  // For tests and diagnostics: the count now.
  ULONG References() const { return refs_.load(); }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

 private:
  std::atomic<ULONG> refs_{1};
};

}  // namespace kwz_platform

#pragma GCC visibility pop
