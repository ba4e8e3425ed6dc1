// VARIANT lifetime: init, clear, copy.
#include "platform/oleauto.h"
#include "platform/winerror.h"

namespace {

bool KnownType(VARTYPE vt) {
  switch (vt & VT_TYPEMASK) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R8:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_UNKNOWN:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
      return (vt & ~(VT_TYPEMASK | VT_BYREF)) == 0;
    case VT_VARIANT:
      // Only a reference to a VARIANT makes sense.
      return vt == (VT_VARIANT | VT_BYREF);
    default:
      return false;
  }
}

}  // namespace

void VariantInit(VARIANT* v) {
  v->vt = VT_EMPTY;
  v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
  v->dblVal = 0;
}

HRESULT VariantClear(VARIANT* v) {
  if (v == nullptr) return E_INVALIDARG;
  if (!KnownType(v->vt)) return DISP_E_BADVARTYPE;
  switch (v->vt) {
    case VT_BSTR:
      SysFreeString(v->bstrVal);
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      if (v->punkVal != nullptr) v->punkVal->Release();
      break;
    default:
      break;
  }
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dst, const VARIANT* src) {
  if (dst == nullptr || src == nullptr) return E_INVALIDARG;
  if (!KnownType(src->vt)) return DISP_E_BADVARTYPE;
  if (dst == src) return S_OK;
  VARIANT copy = *src;
  if (src->vt == VT_BSTR && src->bstrVal != nullptr) {
    copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
    if (copy.bstrVal == nullptr) {
      VariantClear(dst);
      return E_OUTOFMEMORY;
    }
  } else if ((src->vt == VT_DISPATCH || src->vt == VT_UNKNOWN) && src->punkVal != nullptr) {
    src->punkVal->AddRef();
  }
  HRESULT hr = VariantClear(dst);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *dst = copy;
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* dst, const VARIANT* src) {
  if (dst == nullptr || src == nullptr) return E_INVALIDARG;
  if ((src->vt & VT_BYREF) == 0) return VariantCopy(dst, src);
  if (!KnownType(src->vt) || src->byref == nullptr) return E_INVALIDARG;
  if (src->vt == (VT_VARIANT | VT_BYREF)) return VariantCopyInd(dst, src->pvarVal);
  VARIANT value;
  VariantInit(&value);
  value.vt = static_cast<VARTYPE>(src->vt & ~VT_BYREF);
  switch (value.vt) {
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      value.iVal = *src->piVal;
      break;
    case VT_I1:
    case VT_UI1:
      value.bVal = *src->pbVal;
      break;
    case VT_R8:
      value.dblVal = *src->pdblVal;
      break;
    case VT_BSTR:
      value.bstrVal = *src->pbstrVal;
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      value.punkVal = *src->ppunkVal;
      break;
    default:  // the 32-bit types
      value.lVal = *src->plVal;
      break;
  }
  // value borrows the referenced BSTR or interface; VariantCopy makes dst's own.
  VARIANT copy;
  VariantInit(&copy);
  HRESULT hr = VariantCopy(&copy, &value);
  if (FAILED(hr)) return hr;
  VariantClear(dst);
  *dst = copy;
  return S_OK;
}
