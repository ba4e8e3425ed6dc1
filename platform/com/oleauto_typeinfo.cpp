// Type information over a dispatch table and of a coclass: what a container lists.
#include "platform/coclass_typeinfo.h"
#include "platform/com_object.h"
#include "platform/dispatch_table.h"

#include <new>
#include "platform/widestring.h"
#include "platform/winerror.h"

namespace kwz_platform {
namespace {

// A null out pointer means the caller does not want that text.
HRESULT CopyText(LPCOLESTR text, BSTR* out) {
  if (out == nullptr) return S_OK;
  *out = text != nullptr ? SysAllocString(text) : nullptr;
  return text == nullptr || *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT Describe(LPCOLESTR name, LPCOLESTR help, BSTR* nameOut, BSTR* docOut, DWORD* context,
                 BSTR* helpFile) {
  if (context != nullptr) *context = 0;
  if (helpFile != nullptr) *helpFile = nullptr;
  HRESULT hr = CopyText(name, nameOut);
  if (SUCCEEDED(hr)) hr = CopyText(help, docOut);
  if (FAILED(hr) && nameOut != nullptr) {
    SysFreeString(*nameOut);
    *nameOut = nullptr;
  }
  return hr;
}

// A type's attributes as every kind here starts them: version 1.0, no constructor.
TYPEATTR* NewTypeAttr(REFGUID guid, TYPEKIND kind) {
  auto* a = new TYPEATTR{};
  a->guid = guid;
  a->memidConstructor = MEMBERID_NIL;
  a->memidDestructor = MEMBERID_NIL;
  a->typekind = kind;
  a->wMajorVerNum = 1;
  return a;
}

}  // namespace

HRESULT DispatchTypeInfo::QueryInterface(REFIID iid, void** object) {
  return QueryInterfaceFromMap(this, iid, object);
}

HRESULT DispatchTypeInfo::GetTypeAttr(TYPEATTR** attr) {
  if (attr == nullptr) return E_INVALIDARG;
  TYPEATTR* a = NewTypeAttr(iid_, TKIND_DISPATCH);
  a->cFuncs = static_cast<WORD>(members_.size());
  a->cbSizeVft = static_cast<WORD>(7 * sizeof(void*));  // the IDispatch slots
  *attr = a;
  return S_OK;
}

void DispatchTypeInfo::ReleaseTypeAttr(TYPEATTR* attr) {
  delete attr;
}

HRESULT DispatchTypeInfo::GetFuncDesc(UINT index, FUNCDESC** desc) {
  if (desc == nullptr) return E_INVALIDARG;
  if (index >= members_.size()) return TYPE_E_ELEMENTNOTFOUND;
  const DispatchMember& m = members_[index];
  auto* d = new FUNCDESC{};
  d->memid = m.dispid;
  d->funckind = FUNC_DISPATCH;
  d->invkind = m.kind;
  d->callconv = CC_STDCALL;
  d->cParams = static_cast<SHORT>(m.params.size());
  if (!m.params.empty()) {
    d->lprgelemdescParam = new ELEMDESC[m.params.size()];
    for (std::size_t i = 0; i < m.params.size(); ++i) {
      d->lprgelemdescParam[i] = ELEMDESC{TYPEDESC{m.params[i]}, PARAMFLAG_FIN};
    }
  }
  d->elemdescFunc = ELEMDESC{TYPEDESC{m.retval == VT_EMPTY ? VARTYPE{VT_VOID} : m.retval}, 0};
  *desc = d;
  return S_OK;
}

void DispatchTypeInfo::ReleaseFuncDesc(FUNCDESC* desc) {
  if (desc == nullptr) return;
  delete[] desc->lprgelemdescParam;
  delete desc;
}

HRESULT DispatchTypeInfo::GetNames(MEMBERID member, BSTR* names, UINT capacity, UINT* count) {
  if (names == nullptr || count == nullptr) return E_INVALIDARG;
  *count = 0;
  const DispatchMember* m = Named(member);
  if (m == nullptr) return TYPE_E_ELEMENTNOTFOUND;
  std::vector<LPCOLESTR> all{m->name};
  all.insert(all.end(), m->paramNames.begin(), m->paramNames.end());
  for (UINT i = 0; i < capacity && i < all.size(); ++i) {
    names[i] = SysAllocString(all[i]);
    if (names[i] == nullptr) {
      for (UINT j = 0; j < i; ++j) SysFreeString(names[j]);
      return E_OUTOFMEMORY;
    }
    *count = i + 1;
  }
  return S_OK;
}

HRESULT DispatchTypeInfo::GetDocumentation(MEMBERID member, BSTR* name, BSTR* doc,
                                           DWORD* helpContext, BSTR* helpFile) {
  if (member == MEMBERID_NIL) return Describe(name_, help_, name, doc, helpContext, helpFile);
  const DispatchMember* m = Named(member);
  if (m == nullptr) return TYPE_E_ELEMENTNOTFOUND;
  return Describe(m->name, m->help, name, doc, helpContext, helpFile);
}

HRESULT DispatchTypeInfo::GetContainingTypeLib(ITypeLib** lib, UINT* index) {
  if (lib == nullptr) return E_INVALIDARG;
  *lib = lib_;
  if (lib_ == nullptr) return E_NOTIMPL;
  lib_->AddRef();
  if (index != nullptr) *index = libIndex_;
  return S_OK;
}

HRESULT DispatchTypeInfo::GetRefTypeOfImplType(UINT, HREFTYPE* reference) {
  if (reference == nullptr) return E_INVALIDARG;
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT DispatchTypeInfo::GetImplTypeFlags(UINT, INT* flags) {
  if (flags == nullptr) return E_INVALIDARG;
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT DispatchTypeInfo::GetRefTypeInfo(HREFTYPE, ITypeInfo** info) {
  if (info == nullptr) return E_INVALIDARG;
  *info = nullptr;
  return TYPE_E_ELEMENTNOTFOUND;
}

DispatchTypeLib::DispatchTypeLib(REFGUID guid, LPCOLESTR name, LPCOLESTR help,
                                 std::vector<DispatchTypeInfo*> types, WORD major, WORD minor,
                                 LCID lcid, WORD flags)
    : name_(name), help_(help), types_(std::move(types)), attr_{guid,  lcid,  SYS_WIN32,
                                                                major, minor, flags} {
  for (std::size_t i = 0; i < types_.size(); ++i) {
    types_[i]->lib_ = this;
    types_[i]->libIndex_ = static_cast<UINT>(i);
  }
}

HRESULT DispatchTypeLib::QueryInterface(REFIID iid, void** object) {
  return QueryInterfaceFromMap(this, iid, object);
}

HRESULT DispatchTypeLib::GetTypeInfo(UINT index, ITypeInfo** info) {
  if (info == nullptr) return E_INVALIDARG;
  *info = nullptr;
  if (index >= types_.size()) return TYPE_E_ELEMENTNOTFOUND;
  *info = types_[index];
  return S_OK;
}

HRESULT DispatchTypeLib::GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) {
  if (info == nullptr) return E_INVALIDARG;
  *info = nullptr;
  for (DispatchTypeInfo* type : types_) {
    if (IsEqualGUID(type->Iid(), guid)) {
      *info = type;
      return S_OK;
    }
  }
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT DispatchTypeLib::GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* helpContext,
                                          BSTR* helpFile) {
  if (index == -1) return Describe(name_, help_, name, doc, helpContext, helpFile);
  if (index < 0 || static_cast<std::size_t>(index) >= types_.size()) {
    return TYPE_E_ELEMENTNOTFOUND;
  }
  return types_[index]->GetDocumentation(MEMBERID_NIL, name, doc, helpContext, helpFile);
}

HRESULT DispatchTypeLib::GetLibAttr(TLIBATTR** attr) {
  if (attr == nullptr) return E_INVALIDARG;
  *attr = new (std::nothrow) TLIBATTR(attr_);
  return *attr != nullptr ? S_OK : E_OUTOFMEMORY;
}

void DispatchTypeLib::ReleaseTLibAttr(TLIBATTR* attr) {
  delete attr;
}

}  // namespace kwz_platform

namespace kwz_platform {

CoClassTypeInfo::CoClassTypeInfo(REFCLSID clsid, LPCOLESTR name, LPCOLESTR help, WORD typeFlags,
                                 std::vector<Implemented> interfaces)
    : clsid_(clsid),
      name_(name),
      help_(help),
      typeFlags_(typeFlags),
      interfaces_(std::move(interfaces)) {}

HRESULT CoClassTypeInfo::QueryInterface(REFIID iid, void** object) {
  return QueryInterfaceFromMap(this, iid, object);
}

HRESULT CoClassTypeInfo::GetTypeAttr(TYPEATTR** attr) {
  if (attr == nullptr) return E_INVALIDARG;
  TYPEATTR* a = NewTypeAttr(clsid_, TKIND_COCLASS);
  a->cImplTypes = static_cast<WORD>(interfaces_.size());
  a->wTypeFlags = typeFlags_;
  *attr = a;
  return S_OK;
}

void CoClassTypeInfo::ReleaseTypeAttr(TYPEATTR* attr) {
  delete attr;
}

HRESULT CoClassTypeInfo::GetFuncDesc(UINT, FUNCDESC** desc) {
  if (desc == nullptr) return E_INVALIDARG;
  *desc = nullptr;
  return TYPE_E_ELEMENTNOTFOUND;
}

void CoClassTypeInfo::ReleaseFuncDesc(FUNCDESC*) {}

HRESULT CoClassTypeInfo::GetNames(MEMBERID, BSTR* names, UINT, UINT* count) {
  if (names == nullptr || count == nullptr) return E_INVALIDARG;
  *count = 0;
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT CoClassTypeInfo::GetDocumentation(MEMBERID member, BSTR* name, BSTR* doc,
                                          DWORD* helpContext, BSTR* helpFile) {
  if (member != MEMBERID_NIL) return TYPE_E_ELEMENTNOTFOUND;
  return Describe(name_, help_, name, doc, helpContext, helpFile);
}

HRESULT CoClassTypeInfo::GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) {
  if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT CoClassTypeInfo::GetContainingTypeLib(ITypeLib** lib, UINT*) {
  if (lib == nullptr) return E_INVALIDARG;
  *lib = nullptr;
  return E_NOTIMPL;
}

HRESULT CoClassTypeInfo::GetRefTypeOfImplType(UINT index, HREFTYPE* reference) {
  if (reference == nullptr) return E_INVALIDARG;
  if (index >= interfaces_.size()) return TYPE_E_ELEMENTNOTFOUND;
  *reference = index;
  return S_OK;
}

HRESULT CoClassTypeInfo::GetImplTypeFlags(UINT index, INT* flags) {
  if (flags == nullptr) return E_INVALIDARG;
  if (index >= interfaces_.size()) return TYPE_E_ELEMENTNOTFOUND;
  *flags = interfaces_[index].flags;
  return S_OK;
}

HRESULT CoClassTypeInfo::GetRefTypeInfo(HREFTYPE reference, ITypeInfo** info) {
  if (info == nullptr) return E_INVALIDARG;
  *info = nullptr;
  if (reference >= interfaces_.size()) return TYPE_E_ELEMENTNOTFOUND;
  *info = interfaces_[reference].type;
  (*info)->AddRef();
  return S_OK;
}

}  // namespace kwz_platform
