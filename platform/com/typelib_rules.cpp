#include "com/typelib_rules.h"

namespace kwz_platform {
namespace {

bool IsAutomationType(VARTYPE vt) {
  switch (vt) {
    case VT_I2:
    case VT_I4:
    case VT_R8:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_BOOL:
    case VT_VARIANT:
    case VT_UNKNOWN:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}

bool IsValidFunc(const TypeLibFunc& func) {
  if (func.kind != INVOKE_FUNC && func.kind != INVOKE_PROPERTYGET &&
      func.kind != INVOKE_PROPERTYPUT) {
    return false;
  }
  if (func.result != VT_EMPTY && !IsAutomationType(func.result)) return false;
  constexpr USHORT kKnownFlags = PARAMFLAG_FIN | PARAMFLAG_FOUT;
  for (const TypeLibParam& param : func.params) {
    if (!IsAutomationType(param.vt) || (param.flags & ~kKnownFlags) != 0) return false;
  }
  return true;
}

}  // namespace

bool IsValidTypeLib(const TypeLibData& data) {
  for (const TypeLibType& type : data.types) {
    if (type.kind == TKIND_COCLASS) {
      if (!type.funcs.empty()) return false;
      for (const TypeLibImpl& impl : type.impls) {
        if (impl.type >= data.types.size() || data.types[impl.type].kind == TKIND_COCLASS) {
          return false;
        }
      }
    } else if (type.kind == TKIND_DISPATCH) {
      if (!type.impls.empty()) return false;
      for (const TypeLibFunc& func : type.funcs) {
        if (!IsValidFunc(func)) return false;
      }
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace kwz_platform
