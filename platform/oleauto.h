// OLE Automation: BSTR, VARIANT, IDispatch and its type information, error information.
//
// Threads: the functions are free-threaded; a VARIANT or BSTR belongs to whoever holds it.
// Error information is kept per thread.
#pragma once

#include "platform/com.h"

#pragma GCC visibility push(default)

using BSTR = OLECHAR*;
using VARTYPE = USHORT;
using VARIANT_BOOL = SHORT;
using DISPID = LONG;
using MEMBERID = DISPID;
using SCODE = LONG;
using DOUBLE = double;
using FLOAT = float;

#define VARIANT_TRUE (static_cast<VARIANT_BOOL>(-1))
#define VARIANT_FALSE (static_cast<VARIANT_BOOL>(0))

// A BSTR: 32-bit byte count, the characters, a NUL; the BSTR points at the characters.
// Null on allocation failure. SysAllocString(nullptr) gives null.
BSTR SysAllocString(const OLECHAR* text);
// Copies length characters (or leaves them zero when text is null).
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R8 = 5,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

class IDispatch;

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    CHAR cVal;
    USHORT uiVal;
    ULONG ulVal;
    INT intVal;
    UINT uintVal;
    DOUBLE dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    LONG* plVal;
    BYTE* pbVal;
    SHORT* piVal;
    CHAR* pcVal;
    USHORT* puiVal;
    ULONG* pulVal;
    INT* pintVal;
    UINT* puintVal;
    DOUBLE* pdblVal;
    VARIANT_BOOL* pboolVal;
    SCODE* pscode;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    VARIANT* pvarVal;
    void* byref;
  };
};
using VARIANTARG = VARIANT;

void VariantInit(VARIANT* v);
// Frees what v owns (a BSTR, an interface reference; nothing for VT_BYREF) and leaves VT_EMPTY.
// DISP_E_BADVARTYPE for a type outside those above.
HRESULT VariantClear(VARIANT* v);
// Clears dst, then copies src: BSTRs are duplicated, interfaces AddRef'ed, VT_BYREF pointers
// copied as they are. E_OUTOFMEMORY leaves dst VT_EMPTY.
HRESULT VariantCopy(VARIANT* dst, const VARIANT* src);
// As VariantCopy, but a VT_BYREF source is copied as the value it points to.
HRESULT VariantCopyInd(VARIANT* dst, const VARIANT* src);

#define VARIANT_NOVALUEPROP 0x1u
#define VARIANT_ALPHABOOL 0x2u
// Converts src (followed through VT_BYREF) to vt into dst; dst may be src. Integers convert
// between each other, VT_R8 (rounded half to even), VT_BOOL (non-zero is VARIANT_TRUE, which
// reads back as -1) and VT_BSTR (decimal text; booleans as "-1"/"0", or "True"/"False" with
// VARIANT_ALPHABOOL). Text converts to numbers after optional white space and sign, with an
// optional fraction and exponent, and to VT_BOOL also from "True"/"False" in any case.
// Out of range: DISP_E_OVERFLOW. Text that is no number, VT_NULL, and objects to values:
// DISP_E_TYPEMISMATCH. VT_UNKNOWN to VT_DISPATCH asks the object (E_NOINTERFACE). On failure
// dst is unchanged.
HRESULT VariantChangeType(VARIANT* dst, const VARIANT* src, USHORT flags, VARTYPE vt);

// Invocation.
#define DISPATCH_METHOD 0x1u
#define DISPATCH_PROPERTYGET 0x2u
#define DISPATCH_PROPERTYPUT 0x4u
#define DISPATCH_PROPERTYPUTREF 0x8u
#define DISPID_UNKNOWN (-1)
#define DISPID_VALUE 0
#define DISPID_PROPERTYPUT (-3)
#define MEMBERID_NIL DISPID_UNKNOWN
#define LOCALE_SYSTEM_DEFAULT 0x800u
#define LOCALE_USER_DEFAULT 0x400u

// Arguments sit in rgvarg in reverse order: the last argument first.
struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};

class ITypeInfo;

class IDispatch : public IUnknown {
 public:
  virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) = 0;
  virtual HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                DISPID* dispids) = 0;
  virtual HRESULT Invoke(DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* exception, UINT* argError) = 0;

 protected:
  ~IDispatch() = default;
};
extern const IID IID_IDispatch;

// Type information, laid out as Windows lays it out: containers and tools read these structures
// and call these interfaces by slot.
enum TYPEKIND {
  TKIND_ENUM,
  TKIND_RECORD,
  TKIND_MODULE,
  TKIND_INTERFACE,
  TKIND_DISPATCH,
  TKIND_COCLASS,
  TKIND_ALIAS,
  TKIND_UNION
};
enum INVOKEKIND { INVOKE_FUNC = 1, INVOKE_PROPERTYGET = 2, INVOKE_PROPERTYPUT = 4 };
enum FUNCKIND { FUNC_VIRTUAL, FUNC_PUREVIRTUAL, FUNC_NONVIRTUAL, FUNC_STATIC, FUNC_DISPATCH };
enum CALLCONV { CC_CDECL = 1, CC_STDCALL = 4 };
using HREFTYPE = DWORD;

// vt VT_PTR points at the pointed-to type through lptdesc.
struct TYPEDESC {
  union {
    TYPEDESC* lptdesc;
    HREFTYPE hreftype;
  };
  VARTYPE vt;
};
#define PARAMFLAG_NONE 0x0u
#define PARAMFLAG_FIN 0x1u
#define PARAMFLAG_FOUT 0x2u
#define PARAMFLAG_FRETVAL 0x8u
struct PARAMDESC {
  void* pparamdescex;
  USHORT wParamFlags;
};
struct IDLDESC {
  ULONG_PTR dwReserved;
  USHORT wIDLFlags;
};
struct ELEMDESC {
  TYPEDESC tdesc;
  union {
    IDLDESC idldesc;
    PARAMDESC paramdesc;
  };
};

#define TYPEFLAG_FAPPOBJECT 0x1u
#define TYPEFLAG_FCANCREATE 0x2u
#define TYPEFLAG_FHIDDEN 0x10u
#define TYPEFLAG_FCONTROL 0x20u
#define TYPEFLAG_FDUAL 0x40u
#define TYPEFLAG_FNONEXTENSIBLE 0x80u
#define TYPEFLAG_FOLEAUTOMATION 0x100u
#define TYPEFLAG_FDISPATCHABLE 0x1000u
// How a coclass uses each interface it lists.
#define IMPLTYPEFLAG_FDEFAULT 0x1
#define IMPLTYPEFLAG_FSOURCE 0x2

struct TYPEATTR {
  GUID guid;
  LCID lcid;
  DWORD dwReserved;
  MEMBERID memidConstructor;
  MEMBERID memidDestructor;
  LPOLESTR lpstrSchema;
  ULONG cbSizeInstance;
  TYPEKIND typekind;
  WORD cFuncs;
  WORD cVars;
  WORD cImplTypes;
  WORD cbSizeVft;
  WORD cbAlignment;
  WORD wTypeFlags;
  WORD wMajorVerNum;
  WORD wMinorVerNum;
  TYPEDESC tdescAlias;
  IDLDESC idldescType;
};

// In a dispinterface's description an [out, retval] is the function's type; in an interface's
// it is the last parameter and the function returns HRESULT.
struct FUNCDESC {
  MEMBERID memid;
  SCODE* lprgscode;
  ELEMDESC* lprgelemdescParam;
  FUNCKIND funckind;
  INVOKEKIND invkind;
  CALLCONV callconv;
  SHORT cParams;
  SHORT cParamsOpt;
  SHORT oVft;
  SHORT cScodes;
  ELEMDESC elemdescFunc;
  WORD wFuncFlags;
};
struct VARDESC;
class ITypeComp;
class ITypeLib;

class ITypeInfo : public IUnknown {
 public:
  virtual HRESULT GetTypeAttr(TYPEATTR** attr) = 0;
  virtual HRESULT GetTypeComp(ITypeComp** comp) = 0;
  // index counts 0 to cFuncs - 1; TYPE_E_ELEMENTNOTFOUND beyond.
  virtual HRESULT GetFuncDesc(UINT index, FUNCDESC** desc) = 0;
  virtual HRESULT GetVarDesc(UINT index, VARDESC** desc) = 0;
  // The member's name, then its parameters' names.
  virtual HRESULT GetNames(MEMBERID member, BSTR* names, UINT capacity, UINT* count) = 0;
  // Index counts 0 to cImplTypes - 1; for the dispatch half of a dual interface, -1 gives its
  // interface half. The reference resolves through GetRefTypeInfo.
  virtual HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* reference) = 0;
  virtual HRESULT GetImplTypeFlags(UINT index, INT* flags) = 0;
  virtual HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) = 0;
  virtual HRESULT Invoke(void* instance, MEMBERID member, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* exception, UINT* argError) = 0;
  // MEMBERID_NIL describes the type itself. Any out pointer may be null.
  virtual HRESULT GetDocumentation(MEMBERID member, BSTR* name, BSTR* doc, DWORD* helpContext,
                                   BSTR* helpFile) = 0;
  virtual HRESULT GetDllEntry(MEMBERID member, INVOKEKIND kind, BSTR* dll, BSTR* name,
                              WORD* ordinal) = 0;
  virtual HRESULT GetRefTypeInfo(HREFTYPE reference, ITypeInfo** info) = 0;
  virtual HRESULT AddressOfMember(MEMBERID member, INVOKEKIND kind, void** address) = 0;
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
  virtual HRESULT GetMops(MEMBERID member, BSTR* mops) = 0;
  virtual HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) = 0;
  virtual void ReleaseTypeAttr(TYPEATTR* attr) = 0;
  virtual void ReleaseFuncDesc(FUNCDESC* desc) = 0;
  virtual void ReleaseVarDesc(VARDESC* desc) = 0;

 protected:
  ~ITypeInfo() = default;
};
extern const IID IID_ITypeInfo;

enum SYSKIND { SYS_WIN16, SYS_WIN32, SYS_MAC, SYS_WIN64 };
#define LIBFLAG_FRESTRICTED 0x1u
#define LIBFLAG_FCONTROL 0x2u
#define LIBFLAG_FHIDDEN 0x4u
struct TLIBATTR {
  GUID guid;
  LCID lcid;
  SYSKIND syskind;
  WORD wMajorVerNum;
  WORD wMinorVerNum;
  WORD wLibFlags;
};

class ITypeLib : public IUnknown {
 public:
  virtual UINT GetTypeInfoCount() = 0;
  virtual HRESULT GetTypeInfo(UINT index, ITypeInfo** info) = 0;
  virtual HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) = 0;
  virtual HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) = 0;
  virtual HRESULT GetLibAttr(TLIBATTR** attr) = 0;
  virtual HRESULT GetTypeComp(ITypeComp** comp) = 0;
  // index -1 describes the library.
  virtual HRESULT GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* helpContext,
                                   BSTR* helpFile) = 0;
  // IsName and FindName: E_NOTIMPL.
  virtual HRESULT IsName(LPOLESTR name, ULONG hash, BOOL* found) = 0;
  virtual HRESULT FindName(LPOLESTR name, ULONG hash, ITypeInfo** infos, MEMBERID* members,
                           USHORT* found) = 0;
  virtual void ReleaseTLibAttr(TLIBATTR* attr) = 0;

 protected:
  ~ITypeLib() = default;
};
extern const IID IID_ITypeLib;

// Loading a type library (com/typelib_load.cpp). path names a module, whose TYPELIB resource 1
// holds the library, or a file that holds a library image alone. TYPE_E_CANTLOADLIBRARY when
// neither is found, TYPE_E_INVDATAREAD when the image is malformed. REGKIND_DEFAULT registers
// the library when path is not absolute, as a library found by a search must be to be found
// again; REGKIND_REGISTER always, REGKIND_NONE never.
enum REGKIND { REGKIND_DEFAULT, REGKIND_REGISTER, REGKIND_NONE };
HRESULT LoadTypeLib(LPCOLESTR path, ITypeLib** lib);
HRESULT LoadTypeLibEx(LPCOLESTR path, REGKIND kind, ITypeLib** lib);
// The library registered as exactly that version and locale; the current user's registration
// before the machine's. TYPE_E_LIBNOTREGISTERED when there is none.
HRESULT LoadRegTypeLib(REFGUID libId, WORD major, WORD minor, LCID lcid, ITypeLib** lib);
HRESULT QueryPathOfRegTypeLib(REFGUID libId, USHORT major, USHORT minor, LCID lcid, BSTR* path);

// Type library registration (com/oleauto_register.cpp): HKCR\TypeLib\{libid}\<major.minor>
// with the library's help string, FLAGS, HELPDIR and <lcid>\win32 = fullPath, and for each
// dispinterface HKCR\Interface\{iid} with its name, the proxy-stub class of dispinterfaces (of
// interfaces marshalled by type information, for a dual one) and TypeLib = {libid} (Version).
// Machine-wide in HKLM\Software\Classes; the ForUser forms in HKCU\Software\Classes. Unregistration
// removes the interface keys that name the library and version, and the library's version key (the
// library's key too when nothing else is left).
HRESULT RegisterTypeLib(ITypeLib* lib, LPCOLESTR fullPath, LPCOLESTR helpDir);
HRESULT RegisterTypeLibForUser(ITypeLib* lib, OLECHAR* fullPath, OLECHAR* helpDir);
HRESULT UnRegisterTypeLib(REFGUID libId, WORD major, WORD minor, LCID lcid, SYSKIND syskind);
HRESULT UnRegisterTypeLibForUser(REFGUID libId, WORD major, WORD minor, LCID lcid, SYSKIND syskind);

// Error information.
class IErrorInfo : public IUnknown {
 public:
  virtual HRESULT GetGUID(GUID* guid) = 0;
  virtual HRESULT GetSource(BSTR* source) = 0;
  virtual HRESULT GetDescription(BSTR* description) = 0;
  virtual HRESULT GetHelpFile(BSTR* helpFile) = 0;
  virtual HRESULT GetHelpContext(DWORD* helpContext) = 0;

 protected:
  ~IErrorInfo() = default;
};
extern const IID IID_IErrorInfo;

class ICreateErrorInfo : public IUnknown {
 public:
  virtual HRESULT SetGUID(REFGUID guid) = 0;
  virtual HRESULT SetSource(LPOLESTR source) = 0;
  virtual HRESULT SetDescription(LPOLESTR description) = 0;
  virtual HRESULT SetHelpFile(LPOLESTR helpFile) = 0;
  virtual HRESULT SetHelpContext(DWORD helpContext) = 0;

 protected:
  ~ICreateErrorInfo() = default;
};
extern const IID IID_ICreateErrorInfo;

class ISupportErrorInfo : public IUnknown {
 public:
  // S_OK when the object's interface iid sets error information, S_FALSE when not.
  virtual HRESULT InterfaceSupportsErrorInfo(REFIID iid) = 0;

 protected:
  ~ISupportErrorInfo() = default;
};
extern const IID IID_ISupportErrorInfo;

// A new error object whose texts are empty and GUID is GUID_NULL.
HRESULT CreateErrorInfo(ICreateErrorInfo** info);
// The calling thread's error object: Set replaces it (null clears it; reserved must be 0); Get
// hands it over and clears it, S_FALSE with null when there is none.
HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info);
HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info);

#pragma GCC visibility pop
