// The type information of a creatable class: which interfaces it implements and which it raises
// events through, as a container reads it from IProvideClassInfo::GetClassInfo to find the
// default source interface of a control.
//
// Objects of this class are kept for the process's lifetime, like the dispinterface descriptions
// they list (reference counting does not free them). Immutable once built: any thread.
#pragma once

#include <vector>

#include "platform/dispatch_table.h"

#pragma GCC visibility push(default)

namespace kwz_platform {

class CoClassTypeInfo final : public ITypeInfo {
 public:
  using Interfaces = ComInterfaces<ComEntry<ITypeInfo, IID_ITypeInfo>>;

  struct Implemented {
    DispatchTypeInfo* type;
    INT flags;  // IMPLTYPEFLAG_*
  };

  // typeFlags: TYPEFLAG_* of the class (creatable, control).
  CoClassTypeInfo(REFCLSID clsid, LPCOLESTR name, LPCOLESTR help, WORD typeFlags,
                  std::vector<Implemented> interfaces);

  HRESULT QueryInterface(REFIID iid, void** object) override;
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT GetTypeAttr(TYPEATTR** attr) override;
  void ReleaseTypeAttr(TYPEATTR* attr) override;
  // A coclass has no members of its own: TYPE_E_ELEMENTNOTFOUND.
  HRESULT GetFuncDesc(UINT index, FUNCDESC** desc) override;
  void ReleaseFuncDesc(FUNCDESC* desc) override;
  HRESULT GetNames(MEMBERID member, BSTR* names, UINT capacity, UINT* count) override;
  // MEMBERID_NIL describes the class; anything else is TYPE_E_ELEMENTNOTFOUND.
  HRESULT GetDocumentation(MEMBERID member, BSTR* name, BSTR* doc, DWORD* helpContext,
                           BSTR* helpFile) override;
  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override;
  // Not listed in a library here: E_NOTIMPL.
  HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) override;
  // The reference of interface index is index itself.
  HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* reference) override;
  HRESULT GetImplTypeFlags(UINT index, INT* flags) override;
  HRESULT GetRefTypeInfo(HREFTYPE reference, ITypeInfo** info) override;

 private:
  const CLSID clsid_;
  LPCOLESTR name_;
  LPCOLESTR help_;
  const WORD typeFlags_;
  const std::vector<Implemented> interfaces_;
};

}  // namespace kwz_platform

#pragma GCC visibility pop
