// CComPtr: an owning interface pointer, as the control framework spells it.
#pragma once

#include <utility>

#include "platform/com.h"

#pragma GCC visibility push(default)

template <typename T>
class CComPtr {
 public:
  CComPtr() = default;
  CComPtr(T* p) : p_(p) {  // NOLINT: implicit, as the framework's
    if (p_ != nullptr) p_->AddRef();
  }
  CComPtr(const CComPtr& other) : CComPtr(other.p_) {}
  CComPtr(CComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ~CComPtr() { Release(); }
  CComPtr& operator=(CComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }

  void Release() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // Takes over a reference that the caller already holds.
  void Attach(T* p) {
    Release();
    p_ = p;
  }
  T* Detach() { return std::exchange(p_, nullptr); }
  // For out parameters: the pointer must be empty.
  T** operator&() { return &p_; }
  T* operator->() const { return p_; }
  operator T*() const { return p_; }  // NOLINT
  T* get() const { return p_; }

 private:
  T* p_ = nullptr;
};

#pragma GCC visibility pop
