// Activation of in-process servers through the registry: ProgIDs, class objects, and the
// loading and unloading of the modules that serve them.
//
// A class is served by the module that HKCR\CLSID\{clsid}\InprocServer32 names. The module is
// loaded on first use and kept, one load per path, until CoFreeUnusedLibraries finds that its
// DllCanUnloadNow answers S_OK.
//
// Threads: any thread initialised for COM (CO_E_NOTINITIALIZED otherwise).
#pragma once

#include "platform/com.h"

#pragma GCC visibility push(default)

class IClassFactory : public IUnknown {
 public:
  // outer: the controlling unknown when the object is created inside an aggregate; iid must then
  // be IID_IUnknown (CLASS_E_NOAGGREGATION for a class that cannot be aggregated).
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
  // Keeps the module loaded while TRUE locks outnumber FALSE ones.
  virtual HRESULT LockServer(BOOL lock) = 0;

 protected:
  ~IClassFactory() = default;
};
extern const IID IID_IClassFactory;

// The four entry points of an in-process server module.
using LPFNCANUNLOADNOW = HRESULT (*)();
using LPFNGETCLASSOBJECT = HRESULT (*)(REFCLSID clsid, REFIID iid, void** object);
using LPFNREGISTERSERVER = HRESULT (*)();

// HKCR\<progId>\CLSID, after following HKCR\<progId>\CurVer to the current version's ProgID
// (at most a few levels: a loop gives CO_E_CLASSSTRING, as does an unknown ProgID).
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);
// HKCR\CLSID\{clsid}\ProgID as a new string for CoTaskMemFree; REGDB_E_CLASSNOTREG when absent.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId);

// REGDB_E_CLASSNOTREG for a class without InprocServer32; CO_E_DLLNOTFOUND when the module
// does not load; CO_E_ERRORINDLL when it lacks DllGetClassObject; else its result.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* serverInfo, REFIID iid,
                         void** object);
// Unloads the loaded modules whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();

LPVOID CoTaskMemAlloc(SIZE_T size);
void CoTaskMemFree(LPVOID memory);

#pragma GCC visibility pop
