// The COM subset that the control and its threads stand on: GUIDs, IUnknown, apartments, the
// Global Interface Table and the modal wait.
//
// Apartments: CoInitialize/CoInitializeEx(COINIT_APARTMENTTHREADED) makes the calling thread a
// single-threaded apartment whose incoming calls arrive through its message queue (GetMessageW,
// PeekMessageW, CoWaitForMultipleHandles). COINIT_MULTITHREADED joins the process's one
// multithreaded apartment, whose objects are called directly from any thread.
#pragma once

#include <cstring>

#include "platform/wintypes.h"

#pragma GCC visibility push(default)

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using LCID = DWORD;
using OLECHAR = WCHAR;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
  return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool IsEqualIID(REFIID a, REFIID b) {
  return IsEqualGUID(a, b);
}
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) {
  return IsEqualGUID(a, b);
}
inline bool operator==(const GUID& a, const GUID& b) {
  return IsEqualGUID(a, b);
}

extern const GUID GUID_NULL;
extern const IID IID_NULL;
extern const IID IID_IUnknown;
extern const IID IID_IGlobalInterfaceTable;
extern const CLSID CLSID_StdGlobalInterfaceTable;

// Writes "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper case, NUL-terminated); returns the
// characters written including the NUL (39), or 0 when the buffer is too small.
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity);
// Reads the braced form above in either case. No ProgIDs are registered, so anything else gives
// CO_E_CLASSSTRING; null arguments give E_INVALIDARG.
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);
HRESULT IIDFromString(LPCOLESTR text, IID* iid);

#define STDMETHODCALLTYPE
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method

class IUnknown {
 public:
  virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;  // objects die through Release
};
using LPUNKNOWN = IUnknown*;

// Apartments.
#define COINIT_MULTITHREADED 0x0u
#define COINIT_APARTMENTTHREADED 0x2u
// S_OK for the thread's first initialisation, S_FALSE for a nested one of the same model,
// RPC_E_CHANGED_MODE (not counted) for one of the other model. Each S_OK or S_FALSE is balanced
// by CoUninitialize; the last one closes a single-threaded apartment: calls still queued for
// it fail with RPC_E_DISCONNECTED and the interfaces it registered in the Global Interface
// Table are released on this thread and revoked.
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD coInit);
void CoUninitialize();

#define CLSCTX_INPROC_SERVER 0x1u
#define CLSCTX_ALL 0x17u
// CLSID_StdGlobalInterfaceTable (never aggregated: CLASS_E_NOAGGREGATION), or an in-process
// server class registered under HKCR\CLSID (platform/com_activation.h).
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object);

// The process's table of interfaces that other apartments may fetch. Register on the thread of
// the interface's apartment (CO_E_NOTINITIALIZED outside one). Get on the registering apartment's
// thread hands out the interface itself; on any other thread it hands out a proxy that carries
// each call into the registering apartment, waits for it and returns its result (IDispatch and
// dispinterfaces only; other interfaces give E_NOINTERFACE). Unknown cookies give E_INVALIDARG.
class IGlobalInterfaceTable : public IUnknown {
 public:
  virtual HRESULT RegisterInterfaceInGlobal(IUnknown* object, REFIID iid, DWORD* cookie) = 0;
  virtual HRESULT RevokeInterfaceFromGlobal(DWORD cookie) = 0;
  virtual HRESULT GetInterfaceFromGlobal(DWORD cookie, REFIID iid, void** object) = 0;

 protected:
  ~IGlobalInterfaceTable() = default;
};

// Waits until one of the handles is signalled, meanwhile running the calls and sent messages
// that other threads address to this thread (posted messages stay queued). S_OK with the index
// of the signalled handle, RPC_S_CALLPENDING when the time-out elapses, E_INVALIDARG for bad
// arguments or handles. Flags other than 0 are not supported (E_INVALIDARG).
HRESULT CoWaitForMultipleHandles(DWORD flags, DWORD milliseconds, ULONG count,
                                 const HANDLE* handles, DWORD* index);

#pragma GCC visibility pop
