// Invoke and GetIDsOfNames over a dispatch table.
#include <vector>

#include "platform/com_ptr.h"
#include "platform/dispatch_table.h"
#include "platform/winerror.h"

namespace kwz_platform {
namespace {

bool SameNameIgnoringCase(LPCOLESTR a, LPCOLESTR b) {
  auto fold = [](OLECHAR c) {
    return c >= u'A' && c <= u'Z' ? static_cast<OLECHAR>(c - u'A' + u'a') : c;
  };
  for (; *a != u'\0' && *b != u'\0'; ++a, ++b) {
    if (fold(*a) != fold(*b)) return false;
  }
  return *a == *b;
}

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

const DispatchMember* DispatchTypeInfo::Named(MEMBERID member) const {
  // A property's getter and setter share the DISPID; the first entry names it.
  for (const DispatchMember& m : members_) {
    if (m.dispid == member) return &m;
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

HRESULT DispatchTypeInfo::GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) {
  if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  // Of a property's entries or a method's, the one with the most parameter names.
  const DispatchMember* found = nullptr;
  for (const DispatchMember& m : members_) {
    if (names[0] != nullptr && SameNameIgnoringCase(m.name, names[0]) &&
        (found == nullptr || m.paramNames.size() > found->paramNames.size())) {
      found = &m;
    }
  }
  if (found == nullptr) return DISP_E_UNKNOWNNAME;
  ids[0] = found->dispid;
  HRESULT hr = S_OK;
  for (UINT i = 1; i < count; ++i) {
    for (std::size_t p = 0; p < found->paramNames.size(); ++p) {
      if (names[i] != nullptr && SameNameIgnoringCase(found->paramNames[p], names[i])) {
        ids[i] = static_cast<MEMBERID>(p);
      }
    }
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

}  // namespace kwz_platform
