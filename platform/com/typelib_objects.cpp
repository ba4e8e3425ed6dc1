// ITypeLib and ITypeInfo over a library held as data: the answers a container or a tool gets,
// by slot, for a library loaded from a module or built in memory.
#include <atomic>
#include <memory>
#include <new>

#include "com/typelib_rules.h"
#include "platform/com_object.h"
#include "platform/typelib_image.h"
#include "platform/winerror.h"

namespace kwz_platform {
namespace {

// IDispatch's seven slots come before an interface's own.
constexpr SHORT kDispatchSlots = 7;
constexpr HREFTYPE kInterfaceHalf = 1;

bool SameNameIgnoringCase(const std::u16string& a, LPCOLESTR b) {
  auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; };
  std::size_t i = 0;
  for (; i < a.size() && b[i] != u'\0'; ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return i == a.size() && b[i] == u'\0';
}

// A null out pointer means the caller does not want that text.
HRESULT CopyText(const std::u16string& text, BSTR* out) {
  if (out == nullptr) return S_OK;
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT Describe(const std::u16string& name, const std::u16string& help, BSTR* nameOut,
                 BSTR* docOut, DWORD* context, BSTR* helpFile) {
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

class DataTypeLib;

// One type of the library: a dispinterface (or the dispatch half of a dual one), the interface
// half of a dual one, or a coclass. It lives as long as its library and counts on it.
class DataTypeInfo final : public ITypeInfo {
 public:
  using Interfaces = ComInterfaces<ComEntry<ITypeInfo, IID_ITypeInfo>>;

  DataTypeInfo(DataTypeLib* lib, UINT index, bool interfaceHalf)
      : lib_(lib), index_(index), interfaceHalf_(interfaceHalf) {}

  HRESULT QueryInterface(REFIID iid, void** object) override {
    return QueryInterfaceFromMap(this, iid, object);
  }
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT GetTypeAttr(TYPEATTR** attr) override;
  HRESULT GetTypeComp(ITypeComp** comp) override {
    if (comp != nullptr) *comp = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetFuncDesc(UINT index, FUNCDESC** desc) override;
  HRESULT GetVarDesc(UINT, VARDESC** desc) override {
    if (desc == nullptr) return E_INVALIDARG;
    *desc = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;  // no type here has variables
  }
  HRESULT GetNames(MEMBERID member, BSTR* names, UINT capacity, UINT* count) override;
  HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* reference) override;
  HRESULT GetImplTypeFlags(UINT index, INT* flags) override;
  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override;
  // Calling through an object's table by slot is left to the objects' own IDispatch.
  HRESULT Invoke(void*, MEMBERID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT GetDocumentation(MEMBERID member, BSTR* name, BSTR* doc, DWORD* helpContext,
                           BSTR* helpFile) override;
  HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return E_NOTIMPL; }
  HRESULT GetRefTypeInfo(HREFTYPE reference, ITypeInfo** info) override;
  HRESULT AddressOfMember(MEMBERID, INVOKEKIND, void**) override { return E_NOTIMPL; }
  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
  HRESULT GetMops(MEMBERID, BSTR*) override { return E_NOTIMPL; }
  HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) override;
  void ReleaseTypeAttr(TYPEATTR* attr) override { delete attr; }
  void ReleaseFuncDesc(FUNCDESC* desc) override;
  void ReleaseVarDesc(VARDESC*) override {}

 private:
  const TypeLibType& Type() const;
  const TypeLibFunc* Member(MEMBERID member) const;
  // Only a dispinterface has an interface half; the flag means nothing on a coclass.
  bool Dual() const {
    return Type().kind == TKIND_DISPATCH && (Type().flags & TYPEFLAG_FDUAL) != 0;
  }

  DataTypeLib* const lib_;
  const UINT index_;
  const bool interfaceHalf_;
};

class DataTypeLib final : public ITypeLib {
 public:
  using Interfaces = ComInterfaces<ComEntry<ITypeLib, IID_ITypeLib>>;

  explicit DataTypeLib(TypeLibData data) : data_(std::move(data)) {
    for (UINT i = 0; i < data_.types.size(); ++i) {
      dispatch_.push_back(std::make_unique<DataTypeInfo>(this, i, false));
      const bool dual =
          data_.types[i].kind == TKIND_DISPATCH && (data_.types[i].flags & TYPEFLAG_FDUAL) != 0;
      interface_.push_back(dual ? std::make_unique<DataTypeInfo>(this, i, true) : nullptr);
    }
  }

  const TypeLibData& Data() const { return data_; }
  // Null when index has no such half.
  DataTypeInfo* Info(UINT index, bool interfaceHalf) const {
    if (index >= dispatch_.size()) return nullptr;
    return interfaceHalf ? interface_[index].get() : dispatch_[index].get();
  }

  HRESULT QueryInterface(REFIID iid, void** object) override {
    return QueryInterfaceFromMap(this, iid, object);
  }
  ULONG AddRef() override { return refs_.fetch_add(1) + 1; }
  ULONG Release() override {
    const ULONG left = refs_.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
  }

  UINT GetTypeInfoCount() override { return static_cast<UINT>(data_.types.size()); }
  HRESULT GetTypeInfo(UINT index, ITypeInfo** info) override {
    if (info == nullptr) return E_INVALIDARG;
    *info = Info(index, false);
    if (*info == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    (*info)->AddRef();
    return S_OK;
  }
  HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) override {
    if (kind == nullptr) return E_INVALIDARG;
    if (index >= data_.types.size()) return TYPE_E_ELEMENTNOTFOUND;
    *kind = data_.types[index].kind;
    return S_OK;
  }
  HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) override {
    if (info == nullptr) return E_INVALIDARG;
    *info = nullptr;
    for (UINT i = 0; i < data_.types.size(); ++i) {
      if (IsEqualGUID(data_.types[i].guid, guid)) return GetTypeInfo(i, info);
    }
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetLibAttr(TLIBATTR** attr) override {
    if (attr == nullptr) return E_INVALIDARG;
    *attr = new (std::nothrow)
        TLIBATTR{data_.guid, data_.lcid, SYS_WIN32, data_.major, data_.minor, data_.flags};
    return *attr != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT GetTypeComp(ITypeComp** comp) override {
    if (comp != nullptr) *comp = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* helpContext,
                           BSTR* helpFile) override {
    if (index == -1) return Describe(data_.name, data_.help, name, doc, helpContext, helpFile);
    if (index < 0 || static_cast<std::size_t>(index) >= data_.types.size()) {
      return TYPE_E_ELEMENTNOTFOUND;
    }
    const TypeLibType& type = data_.types[index];
    return Describe(type.name, type.help, name, doc, helpContext, helpFile);
  }
  HRESULT IsName(LPOLESTR, ULONG, BOOL* found) override {
    if (found != nullptr) *found = FALSE;
    return E_NOTIMPL;
  }
  HRESULT FindName(LPOLESTR, ULONG, ITypeInfo**, MEMBERID*, USHORT* found) override {
    if (found != nullptr) *found = 0;
    return E_NOTIMPL;
  }
  void ReleaseTLibAttr(TLIBATTR* attr) override { delete attr; }

 private:
  ~DataTypeLib() = default;

  const TypeLibData data_;
  std::vector<std::unique_ptr<DataTypeInfo>> dispatch_;
  std::vector<std::unique_ptr<DataTypeInfo>> interface_;
  std::atomic<ULONG> refs_{1};
};

ULONG DataTypeInfo::AddRef() {
  return lib_->AddRef();
}

ULONG DataTypeInfo::Release() {
  return lib_->Release();
}

const TypeLibType& DataTypeInfo::Type() const {
  return lib_->Data().types[index_];
}

const TypeLibFunc* DataTypeInfo::Member(MEMBERID member) const {
  // A property's getter and setter share the DISPID; the first entry names it.
  for (const TypeLibFunc& func : Type().funcs) {
    if (func.memid == member) return &func;
  }
  return nullptr;
}

HRESULT DataTypeInfo::GetTypeAttr(TYPEATTR** attr) {
  if (attr == nullptr) return E_INVALIDARG;
  const TypeLibType& type = Type();
  auto* a = new (std::nothrow) TYPEATTR{};
  if (a == nullptr) return E_OUTOFMEMORY;
  a->guid = type.guid;
  a->lcid = lib_->Data().lcid;
  a->memidConstructor = MEMBERID_NIL;
  a->memidDestructor = MEMBERID_NIL;
  a->cbSizeInstance = sizeof(void*);
  a->typekind = interfaceHalf_ ? TKIND_INTERFACE : type.kind;
  a->cbAlignment = alignof(void*);
  a->wTypeFlags = type.flags;
  a->wMajorVerNum = lib_->Data().major;
  a->wMinorVerNum = lib_->Data().minor;
  if (type.kind == TKIND_COCLASS) {
    a->cImplTypes = static_cast<WORD>(type.impls.size());
  } else {
    a->cFuncs = static_cast<WORD>(type.funcs.size());
    a->wTypeFlags |= TYPEFLAG_FDISPATCHABLE;
    const std::size_t slots = kDispatchSlots + (interfaceHalf_ ? type.funcs.size() : 0);
    a->cbSizeVft = static_cast<WORD>(slots * sizeof(void*));
  }
  *attr = a;
  return S_OK;
}

HRESULT DataTypeInfo::GetFuncDesc(UINT index, FUNCDESC** desc) {
  if (desc == nullptr) return E_INVALIDARG;
  *desc = nullptr;
  const TypeLibType& type = Type();
  if (index >= type.funcs.size()) return TYPE_E_ELEMENTNOTFOUND;
  const TypeLibFunc& func = type.funcs[index];
  // The interface half takes the result as a last [out, retval] pointer and returns HRESULT.
  const bool retvalParam = interfaceHalf_ && func.result != VT_EMPTY;
  const std::size_t count = func.params.size() + (retvalParam ? 1 : 0);
  auto d = std::make_unique<FUNCDESC>();
  d->memid = func.memid;
  d->funckind = interfaceHalf_ ? FUNC_PUREVIRTUAL : FUNC_DISPATCH;
  d->invkind = func.kind;
  d->callconv = CC_STDCALL;
  d->cParams = static_cast<SHORT>(count);
  if (interfaceHalf_ || Dual())
    d->oVft = static_cast<SHORT>((kDispatchSlots + index) * sizeof(void*));
  if (count > 0) {
    d->lprgelemdescParam = new ELEMDESC[count]{};
    for (std::size_t i = 0; i < func.params.size(); ++i) {
      d->lprgelemdescParam[i].tdesc.vt = func.params[i].vt;
      d->lprgelemdescParam[i].paramdesc.wParamFlags = func.params[i].flags;
    }
  }
  if (retvalParam) {
    ELEMDESC& retval = d->lprgelemdescParam[count - 1];
    retval.tdesc.vt = VT_PTR;
    retval.tdesc.lptdesc = new TYPEDESC{};
    retval.tdesc.lptdesc->vt = func.result;
    retval.paramdesc.wParamFlags = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
    d->elemdescFunc.tdesc.vt = VT_HRESULT;
  } else if (interfaceHalf_) {
    d->elemdescFunc.tdesc.vt = VT_HRESULT;
  } else {
    d->elemdescFunc.tdesc.vt = func.result == VT_EMPTY ? VARTYPE{VT_VOID} : func.result;
  }
  *desc = d.release();
  return S_OK;
}

void DataTypeInfo::ReleaseFuncDesc(FUNCDESC* desc) {
  if (desc == nullptr) return;
  for (SHORT i = 0; i < desc->cParams; ++i) {
    if (desc->lprgelemdescParam[i].tdesc.vt == VT_PTR)
      delete desc->lprgelemdescParam[i].tdesc.lptdesc;
  }
  delete[] desc->lprgelemdescParam;
  delete desc;
}

HRESULT DataTypeInfo::GetNames(MEMBERID member, BSTR* names, UINT capacity, UINT* count) {
  if (names == nullptr || count == nullptr) return E_INVALIDARG;
  *count = 0;
  const TypeLibFunc* func = Member(member);
  if (func == nullptr) return TYPE_E_ELEMENTNOTFOUND;
  std::vector<const std::u16string*> all{&func->name};
  for (const TypeLibParam& param : func->params) {
    if (param.name.empty()) break;  // a setter's value has no name
    all.push_back(&param.name);
  }
  if (interfaceHalf_ && func->result != VT_EMPTY && !func->resultName.empty()) {
    all.push_back(&func->resultName);
  }
  for (UINT i = 0; i < capacity && i < all.size(); ++i) {
    if (FAILED(CopyText(*all[i], &names[i]))) {
      for (UINT j = 0; j < i; ++j) SysFreeString(names[j]);
      *count = 0;
      return E_OUTOFMEMORY;
    }
    *count = i + 1;
  }
  return S_OK;
}

HRESULT DataTypeInfo::GetRefTypeOfImplType(UINT index, HREFTYPE* reference) {
  if (reference == nullptr) return E_INVALIDARG;
  const TypeLibType& type = Type();
  if (index == ~UINT{0} && !interfaceHalf_ && Dual()) {
    *reference = index_ * 2 + kInterfaceHalf;
    return S_OK;
  }
  if (type.kind != TKIND_COCLASS || index >= type.impls.size()) return TYPE_E_ELEMENTNOTFOUND;
  const UINT target = type.impls[index].type;
  // A coclass lists a dual interface by its interface half, as Windows does.
  const bool dual = (lib_->Data().types[target].flags & TYPEFLAG_FDUAL) != 0;
  *reference = target * 2 + (dual ? kInterfaceHalf : 0);
  return S_OK;
}

HRESULT DataTypeInfo::GetImplTypeFlags(UINT index, INT* flags) {
  if (flags == nullptr) return E_INVALIDARG;
  const TypeLibType& type = Type();
  if (type.kind != TKIND_COCLASS || index >= type.impls.size()) return TYPE_E_ELEMENTNOTFOUND;
  *flags = type.impls[index].flags;
  return S_OK;
}

HRESULT DataTypeInfo::GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) {
  if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  // Of a property's entries or a method's, the one with the most parameters.
  const TypeLibFunc* found = nullptr;
  for (const TypeLibFunc& func : Type().funcs) {
    if (names[0] != nullptr && SameNameIgnoringCase(func.name, names[0]) &&
        (found == nullptr || func.params.size() > found->params.size())) {
      found = &func;
    }
  }
  if (found == nullptr) return DISP_E_UNKNOWNNAME;
  ids[0] = found->memid;
  HRESULT hr = S_OK;
  for (UINT i = 1; i < count; ++i) {
    for (std::size_t p = 0; p < found->params.size(); ++p) {
      if (names[i] != nullptr && SameNameIgnoringCase(found->params[p].name, names[i])) {
        ids[i] = static_cast<MEMBERID>(p);
      }
    }
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT DataTypeInfo::GetDocumentation(MEMBERID member, BSTR* name, BSTR* doc, DWORD* helpContext,
                                       BSTR* helpFile) {
  if (member == MEMBERID_NIL) {
    return Describe(Type().name, Type().help, name, doc, helpContext, helpFile);
  }
  const TypeLibFunc* func = Member(member);
  if (func == nullptr) return TYPE_E_ELEMENTNOTFOUND;
  return Describe(func->name, func->help, name, doc, helpContext, helpFile);
}

HRESULT DataTypeInfo::GetRefTypeInfo(HREFTYPE reference, ITypeInfo** info) {
  if (info == nullptr) return E_INVALIDARG;
  *info = lib_->Info(reference / 2, (reference & kInterfaceHalf) != 0);
  if (*info == nullptr) return TYPE_E_ELEMENTNOTFOUND;
  (*info)->AddRef();
  return S_OK;
}

HRESULT DataTypeInfo::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
  if (object == nullptr) return E_INVALIDARG;
  *object = nullptr;
  if (Type().kind != TKIND_COCLASS) return TYPE_E_WRONGTYPEKIND;
  return CoCreateInstance(Type().guid, outer, CLSCTX_INPROC_SERVER, iid, object);
}

HRESULT DataTypeInfo::GetContainingTypeLib(ITypeLib** lib, UINT* index) {
  if (lib == nullptr) return E_INVALIDARG;
  *lib = lib_;
  lib_->AddRef();
  if (index != nullptr) *index = index_;
  return S_OK;
}

}  // namespace

HRESULT CreateTypeLibFromData(TypeLibData data, ITypeLib** lib) {
  if (lib == nullptr) return E_INVALIDARG;
  *lib = nullptr;
  if (!IsValidTypeLib(data)) return E_INVALIDARG;
  *lib = new (std::nothrow) DataTypeLib(std::move(data));
  return *lib != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace kwz_platform
