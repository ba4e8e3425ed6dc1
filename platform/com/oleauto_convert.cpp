// VariantChangeType: the conversions that scripting containers rely on.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "platform/oleauto.h"
#include "platform/widestring.h"
#include "platform/winerror.h"

namespace {

// What the source holds, read through any VT_BYREF.
struct Value {
  enum Kind { kEmpty, kNull, kInteger, kReal, kBool, kText, kObject } kind = kEmpty;
  std::int64_t integer = 0;    // kInteger, kBool (-1 or 0)
  double real = 0;             // kReal
  BSTR text = nullptr;         // kText, borrowed
  IUnknown* object = nullptr;  // kObject, borrowed
  bool isDispatch = false;
};

HRESULT ReadValue(const VARIANT* src, Value* out) {
  if (src->vt == (VT_VARIANT | VT_BYREF)) {
    if (src->pvarVal == nullptr) return E_INVALIDARG;
    return ReadValue(src->pvarVal, out);
  }
  const bool byref = (src->vt & VT_BYREF) != 0;
  if (byref && src->byref == nullptr) return E_INVALIDARG;
  const VARTYPE vt = static_cast<VARTYPE>(src->vt & ~VT_BYREF);
  Value v;
  switch (vt) {
    case VT_EMPTY:
      v.kind = Value::kEmpty;
      break;
    case VT_NULL:
      v.kind = Value::kNull;
      break;
    case VT_I1:
      v.kind = Value::kInteger;
      v.integer = byref ? *src->pcVal : src->cVal;
      break;
    case VT_UI1:
      v.kind = Value::kInteger;
      v.integer = byref ? *src->pbVal : src->bVal;
      break;
    case VT_I2:
      v.kind = Value::kInteger;
      v.integer = byref ? *src->piVal : src->iVal;
      break;
    case VT_UI2:
      v.kind = Value::kInteger;
      v.integer = byref ? *src->puiVal : src->uiVal;
      break;
    case VT_I4:
    case VT_INT:
      v.kind = Value::kInteger;
      v.integer = byref ? *src->plVal : src->lVal;
      break;
    case VT_UI4:
    case VT_UINT:
      v.kind = Value::kInteger;
      v.integer = byref ? *src->pulVal : src->ulVal;
      break;
    case VT_R8:
      v.kind = Value::kReal;
      v.real = byref ? *src->pdblVal : src->dblVal;
      break;
    case VT_BOOL:
      v.kind = Value::kBool;
      v.integer = (byref ? *src->pboolVal : src->boolVal) != 0 ? -1 : 0;
      break;
    case VT_BSTR:
      v.kind = Value::kText;
      v.text = byref ? *src->pbstrVal : src->bstrVal;
      break;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      v.kind = Value::kObject;
      v.object = byref ? *src->ppunkVal : src->punkVal;
      v.isDispatch = vt == VT_DISPATCH;
      break;
    default:
      return DISP_E_BADVARTYPE;
  }
  *out = v;
  return S_OK;
}

bool IsBlank(OLECHAR c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// Text as a number: blanks, optional sign, digits with an optional fraction, an optional
// exponent, blanks. DISP_E_TYPEMISMATCH for anything else.
HRESULT ParseNumber(BSTR text, double* number) {
  const UINT length = SysStringLen(text);
  UINT at = 0;
  while (at < length && IsBlank(text[at])) ++at;
  UINT end = length;
  while (end > at && IsBlank(text[end - 1])) --end;
  std::string ascii;
  int digits = 0;
  for (UINT i = at; i < end; ++i) {
    const OLECHAR c = text[i];
    if (c > 0x7F) return DISP_E_TYPEMISMATCH;
    if (c >= u'0' && c <= u'9') ++digits;
    ascii.push_back(static_cast<char>(c));
  }
  if (digits == 0) return DISP_E_TYPEMISMATCH;
  // strtod also reads hex, "inf" and "nan"; the digit check and this filter keep those out.
  for (char c : ascii) {
    if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.' ||
          c == 'e' || c == 'E')) {
      return DISP_E_TYPEMISMATCH;
    }
  }
  char* stop = nullptr;
  const double value = std::strtod(ascii.c_str(), &stop);
  if (stop != ascii.c_str() + ascii.size()) return DISP_E_TYPEMISMATCH;
  if (std::isinf(value)) return DISP_E_OVERFLOW;
  *number = value;
  return S_OK;
}

bool EqualsIgnoringCase(BSTR text, const char* word) {
  UINT length = SysStringLen(text);
  UINT at = 0;
  while (at < length && IsBlank(text[at])) ++at;
  while (length > at && IsBlank(text[length - 1])) --length;
  for (; *word != '\0'; ++word, ++at) {
    if (at >= length || std::tolower(text[at] > 0x7F ? 0 : static_cast<int>(text[at])) !=
                            std::tolower(static_cast<unsigned char>(*word))) {
      return false;
    }
  }
  return at == length;
}

template <typename T>
HRESULT ToInteger(const Value& v, T* out) {
  constexpr auto kMin = std::numeric_limits<T>::min();
  constexpr auto kMax = std::numeric_limits<T>::max();
  double real = 0;
  switch (v.kind) {
    case Value::kEmpty:
      *out = 0;
      return S_OK;
    case Value::kInteger:
    case Value::kBool:
      if (v.integer < static_cast<std::int64_t>(kMin) ||
          v.integer > static_cast<std::int64_t>(kMax)) {
        return DISP_E_OVERFLOW;
      }
      *out = static_cast<T>(v.integer);
      return S_OK;
    case Value::kReal:
      real = v.real;
      break;
    case Value::kText: {
      HRESULT hr = ParseNumber(v.text, &real);
      if (FAILED(hr)) return hr;
      break;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
  // Halves round to even, as the automation library does.
  const double rounded = std::nearbyint(real);
  if (!(rounded >= static_cast<double>(kMin) && rounded <= static_cast<double>(kMax))) {
    return DISP_E_OVERFLOW;
  }
  *out = static_cast<T>(rounded);
  return S_OK;
}

HRESULT ToReal(const Value& v, double* out) {
  switch (v.kind) {
    case Value::kEmpty:
      *out = 0;
      return S_OK;
    case Value::kInteger:
    case Value::kBool:
      *out = static_cast<double>(v.integer);
      return S_OK;
    case Value::kReal:
      *out = v.real;
      return S_OK;
    case Value::kText:
      return ParseNumber(v.text, out);
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT ToBool(const Value& v, VARIANT_BOOL* out) {
  if (v.kind == Value::kText) {
    if (EqualsIgnoringCase(v.text, "true")) {
      *out = VARIANT_TRUE;
      return S_OK;
    }
    if (EqualsIgnoringCase(v.text, "false")) {
      *out = VARIANT_FALSE;
      return S_OK;
    }
  }
  double real = 0;
  HRESULT hr = ToReal(v, &real);
  if (FAILED(hr)) return hr;
  *out = real != 0 ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

HRESULT ToText(const Value& v, USHORT flags, BSTR* out) {
  char buffer[40];
  switch (v.kind) {
    case Value::kEmpty:
      buffer[0] = '\0';
      break;
    case Value::kBool:
      if ((flags & VARIANT_ALPHABOOL) != 0) {
        std::snprintf(buffer, sizeof buffer, "%s", v.integer != 0 ? "True" : "False");
        break;
      }
      [[fallthrough]];
    case Value::kInteger:
      std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(v.integer));
      break;
    case Value::kReal:
      std::snprintf(buffer, sizeof buffer, "%.15G", v.real);
      break;
    case Value::kText:
      *out = SysAllocStringLen(v.text, SysStringLen(v.text));
      return *out != nullptr || v.text == nullptr ? S_OK : E_OUTOFMEMORY;
    default:
      return DISP_E_TYPEMISMATCH;
  }
  const std::u16string wide = Widen(buffer);
  *out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT Convert(const Value& v, USHORT flags, VARTYPE vt, VARIANT* out) {
  VariantInit(out);
  if (v.kind == Value::kNull && vt != VT_NULL) return DISP_E_TYPEMISMATCH;
  HRESULT hr = S_OK;
  switch (vt) {
    case VT_EMPTY:
      break;
    case VT_NULL:
      hr = v.kind == Value::kNull ? S_OK : DISP_E_TYPEMISMATCH;
      break;
    case VT_I1:
      hr = ToInteger(v, &out->cVal);
      break;
    case VT_UI1:
      hr = ToInteger(v, &out->bVal);
      break;
    case VT_I2:
      hr = ToInteger(v, &out->iVal);
      break;
    case VT_UI2:
      hr = ToInteger(v, &out->uiVal);
      break;
    case VT_I4:
    case VT_INT:
      hr = ToInteger(v, &out->lVal);
      break;
    case VT_UI4:
    case VT_UINT:
      hr = ToInteger(v, &out->ulVal);
      break;
    case VT_R8:
      hr = ToReal(v, &out->dblVal);
      break;
    case VT_BOOL:
      hr = ToBool(v, &out->boolVal);
      break;
    case VT_BSTR:
      hr = ToText(v, flags, &out->bstrVal);
      break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      if (v.kind != Value::kObject) return DISP_E_TYPEMISMATCH;
      if (v.object == nullptr) {
        out->punkVal = nullptr;
      } else if (vt == VT_DISPATCH && !v.isDispatch) {
        hr = v.object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&out->pdispVal));
      } else {
        v.object->AddRef();
        out->punkVal = v.object;
      }
      break;
    default:
      return (vt & VT_BYREF) != 0 ? DISP_E_TYPEMISMATCH : DISP_E_BADVARTYPE;
  }
  if (FAILED(hr)) {
    VariantInit(out);
    return hr;
  }
  out->vt = vt;
  return S_OK;
}

}  // namespace

HRESULT VariantChangeType(VARIANT* dst, const VARIANT* src, USHORT flags, VARTYPE vt) {
  if (dst == nullptr || src == nullptr) return E_INVALIDARG;
  Value value;
  HRESULT hr = ReadValue(src, &value);
  if (FAILED(hr)) return hr;
  VARIANT converted;
  hr = Convert(value, flags, vt, &converted);
  if (FAILED(hr)) return hr;
  // The source may be dst itself: value borrowed from it until here.
  VariantClear(dst);
  *dst = converted;
  return S_OK;
}
