// The framework's exception that carries an HRESULT (raised, for example, when a BSTR cannot be
// allocated), caught at the control's automation boundary.
#pragma once

#include "platform/wintypes.h"

#pragma GCC visibility push(default)

class CAtlException {
 public:
  explicit CAtlException(HRESULT hr) : m_hr(hr) {}
  operator HRESULT() const { return m_hr; }  // NOLINT: the framework converts implicitly

  HRESULT m_hr;
};

[[noreturn]] inline void AtlThrow(HRESULT hr) {
  throw CAtlException(hr);
}

#pragma GCC visibility pop
