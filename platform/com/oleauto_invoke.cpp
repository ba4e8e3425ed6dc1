// Invoke over a dispatch table, and its description as a library lists it.
#include <vector>

#include "platform/com_ptr.h"
#include "platform/dispatch_table.h"
#include "platform/winerror.h"

namespace kwz_platform {
namespace {

// The failure of the member, described for the caller from the thread's error information.
void FillException(EXCEPINFO* exception, HRESULT failure) {
  CComPtr<IErrorInfo> info;
  GetErrorInfo(0, &info);  // consumed either way: it belonged to this call
  if (exception == nullptr) return;
  *exception = EXCEPINFO{};
  exception->scode = failure;
  if (info) {
    info->GetSource(&exception->bstrSource);
    info->GetDescription(&exception->bstrDescription);
    info->GetHelpFile(&exception->bstrHelpFile);
    info->GetHelpContext(&exception->dwHelpContext);
  }
}

void ClearAll(std::vector<VARIANT>& args) {
  for (VARIANT& v : args) VariantClear(&v);
}

}  // namespace

DispatchTypeInfo::DispatchTypeInfo(REFIID iid, LPCOLESTR name, LPCOLESTR help,
                                   std::vector<DispatchMember> members)
    : iid_(iid), name_(name), help_(help), members_(std::move(members)) {}

const DispatchMember* DispatchTypeInfo::Select(DISPID member, WORD flags) const {
  for (const DispatchMember& m : members_) {
    if (m.dispid != member) continue;
    if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0) {
      if (m.kind == INVOKE_PROPERTYPUT) return &m;
      continue;
    }
    if ((flags & DISPATCH_METHOD) != 0 && m.kind == INVOKE_FUNC) return &m;
    if ((flags & DISPATCH_PROPERTYGET) != 0 && m.kind == INVOKE_PROPERTYGET) return &m;
  }
  return nullptr;
}

HRESULT DispatchTypeInfo::Invoke(void* object, DISPID member, WORD flags, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO* exception, UINT* argError) const {
  if (params == nullptr) return E_INVALIDARG;
  const DispatchMember* m = Select(member, flags);
  // An outgoing interface's members describe events: nothing here implements them.
  if (m == nullptr || m->call == nullptr) return DISP_E_MEMBERNOTFOUND;
  if (m->kind == INVOKE_PROPERTYPUT) {
    if (params->cNamedArgs != 1 || params->rgdispidNamedArgs == nullptr ||
        params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
      return DISP_E_PARAMNOTFOUND;
    }
  } else if (params->cNamedArgs != 0) {
    return DISP_E_NONAMEDARGS;
  }
  const UINT count = params->cArgs;
  if (count != m->params.size()) return DISP_E_BADPARAMCOUNT;
  if (count != 0 && params->rgvarg == nullptr) return E_INVALIDARG;

  std::vector<VARIANT> args(count);
  for (VARIANT& v : args) VariantInit(&v);
  for (UINT i = 0; i < count; ++i) {
    const UINT slot = count - 1 - i;  // arguments arrive last first
    const VARIANT* given = &params->rgvarg[slot];
    HRESULT hr = m->params[i] == VT_VARIANT ? VariantCopyInd(&args[i], given)
                                            : VariantChangeType(&args[i], given, 0, m->params[i]);
    if (FAILED(hr)) {
      ClearAll(args);
      if (argError != nullptr) *argError = slot;
      return hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
    }
  }

  VARIANT out;
  VariantInit(&out);
  // A stale error object must not describe this call's failure.
  SetErrorInfo(0, nullptr);
  const HRESULT hr = m->call(object, args.data(), &out);
  ClearAll(args);
  if (FAILED(hr)) {
    VariantClear(&out);
    FillException(exception, hr);
    return DISP_E_EXCEPTION;
  }
  if (result != nullptr) {
    *result = out;
  } else {
    VariantClear(&out);
  }
  return S_OK;
}

TypeLibType DispatchTypeInfo::Describe(WORD typeFlags) const {
  TypeLibType type{iid_, TKIND_DISPATCH, typeFlags, name_, help_, {}, {}};
  for (const DispatchMember& m : members_) {
    TypeLibFunc func{m.dispid, m.kind, m.name, m.help != nullptr ? m.help : u"", {}, m.retval, u""};
    for (std::size_t i = 0; i < m.params.size(); ++i) {
      const LPCOLESTR name = i < m.paramNames.size() ? m.paramNames[i] : u"";
      func.params.push_back({name, m.params[i], PARAMFLAG_FIN});
    }
    if (m.retval != VT_EMPTY && m.paramNames.size() > m.params.size()) {
      func.resultName = m.paramNames.back();
    }
    type.funcs.push_back(std::move(func));
  }
  return type;
}

}  // namespace kwz_platform
