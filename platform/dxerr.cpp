#include "platform/dxerr.h"

#include "platform/winerror.h"

namespace {

struct ErrorName {
  DWORD code;
  const WCHAR* name;
};

// Stringizing the macro itself keeps each name tied to the value it stands for.
#define KWZ_ERR(c) \
  { static_cast<DWORD>(c), u"" #c }

// S_OK and S_FALSE share their values with ERROR_SUCCESS and ERROR_INVALID_FUNCTION; a plain
// value is taken as an HRESULT first, so they win, and the Win32 names stay reachable through
// their HRESULT_FROM_WIN32 form.
constexpr ErrorName kHresults[] = {
    KWZ_ERR(S_OK),
    KWZ_ERR(S_FALSE),
    KWZ_ERR(E_NOTIMPL),
    KWZ_ERR(E_NOINTERFACE),
    KWZ_ERR(E_POINTER),
    KWZ_ERR(E_ABORT),
    KWZ_ERR(E_FAIL),
    KWZ_ERR(E_UNEXPECTED),
    KWZ_ERR(E_ACCESSDENIED),
    KWZ_ERR(E_HANDLE),
    KWZ_ERR(E_OUTOFMEMORY),
    KWZ_ERR(E_INVALIDARG),
    KWZ_ERR(DISP_E_UNKNOWNINTERFACE),
    KWZ_ERR(DISP_E_MEMBERNOTFOUND),
    KWZ_ERR(DISP_E_PARAMNOTFOUND),
    KWZ_ERR(DISP_E_TYPEMISMATCH),
    KWZ_ERR(DISP_E_UNKNOWNNAME),
    KWZ_ERR(DISP_E_NONAMEDARGS),
    KWZ_ERR(DISP_E_BADVARTYPE),
    KWZ_ERR(DISP_E_EXCEPTION),
    KWZ_ERR(DISP_E_OVERFLOW),
    KWZ_ERR(DISP_E_BADINDEX),
    KWZ_ERR(DISP_E_UNKNOWNLCID),
    KWZ_ERR(DISP_E_ARRAYISLOCKED),
    KWZ_ERR(DISP_E_BADPARAMCOUNT),
    KWZ_ERR(DISP_E_PARAMNOTOPTIONAL),
    KWZ_ERR(TYPE_E_ELEMENTNOTFOUND),
    KWZ_ERR(TYPE_E_LIBNOTREGISTERED),
    KWZ_ERR(TYPE_E_CANTLOADLIBRARY),
    KWZ_ERR(CLASS_E_NOAGGREGATION),
    KWZ_ERR(CLASS_E_CLASSNOTAVAILABLE),
    KWZ_ERR(REGDB_E_CLASSNOTREG),
    KWZ_ERR(REGDB_E_READREGDB),
    KWZ_ERR(REGDB_E_WRITEREGDB),
    KWZ_ERR(REGDB_E_IIDNOTREG),
    KWZ_ERR(OLE_E_NOCONNECTION),
    KWZ_ERR(CONNECT_E_NOCONNECTION),
    KWZ_ERR(CONNECT_E_ADVISELIMIT),
    KWZ_ERR(CONNECT_E_CANNOTCONNECT),
    KWZ_ERR(CONNECT_E_OVERRIDDEN),
    KWZ_ERR(CO_E_NOTINITIALIZED),
    KWZ_ERR(CO_E_ALREADYINITIALIZED),
    KWZ_ERR(CO_E_CLASSSTRING),
    KWZ_ERR(RPC_E_CHANGED_MODE),
    KWZ_ERR(RPC_E_WRONG_THREAD),
    KWZ_ERR(STG_E_INVALIDPOINTER),
};

// Win32 and Winsock codes: all below 0x10000, so each also has an HRESULT_FROM_WIN32 form.
constexpr ErrorName kWin32Codes[] = {
    KWZ_ERR(ERROR_SUCCESS),
    KWZ_ERR(ERROR_INVALID_FUNCTION),
    KWZ_ERR(ERROR_FILE_NOT_FOUND),
    KWZ_ERR(ERROR_PATH_NOT_FOUND),
    KWZ_ERR(ERROR_TOO_MANY_OPEN_FILES),
    KWZ_ERR(ERROR_ACCESS_DENIED),
    KWZ_ERR(ERROR_INVALID_HANDLE),
    KWZ_ERR(ERROR_NOT_ENOUGH_MEMORY),
    KWZ_ERR(ERROR_OUTOFMEMORY),
    KWZ_ERR(ERROR_NOT_SUPPORTED),
    KWZ_ERR(ERROR_FILE_EXISTS),
    KWZ_ERR(ERROR_INVALID_PARAMETER),
    KWZ_ERR(ERROR_INSUFFICIENT_BUFFER),
    KWZ_ERR(ERROR_INVALID_NAME),
    KWZ_ERR(ERROR_ALREADY_EXISTS),
    KWZ_ERR(ERROR_ENVVAR_NOT_FOUND),
    KWZ_ERR(ERROR_NO_UNICODE_TRANSLATION),
    KWZ_ERR(ERROR_NOT_OWNER),
    KWZ_ERR(ERROR_TIMEOUT),
    KWZ_ERR(ERROR_INVALID_WINDOW_HANDLE),
    KWZ_ERR(ERROR_CLASS_ALREADY_EXISTS),
    KWZ_ERR(WSAEINTR),
    KWZ_ERR(WSAEBADF),
    KWZ_ERR(WSAEACCES),
    KWZ_ERR(WSAEFAULT),
    KWZ_ERR(WSAEINVAL),
    KWZ_ERR(WSAEMFILE),
    KWZ_ERR(WSAEWOULDBLOCK),
    KWZ_ERR(WSAEINPROGRESS),
    KWZ_ERR(WSAEALREADY),
    KWZ_ERR(WSAENOTSOCK),
    KWZ_ERR(WSAEDESTADDRREQ),
    KWZ_ERR(WSAEMSGSIZE),
    KWZ_ERR(WSAEPROTOTYPE),
    KWZ_ERR(WSAENOPROTOOPT),
    KWZ_ERR(WSAEPROTONOSUPPORT),
    KWZ_ERR(WSAESOCKTNOSUPPORT),
    KWZ_ERR(WSAEOPNOTSUPP),
    KWZ_ERR(WSAEPFNOSUPPORT),
    KWZ_ERR(WSAEAFNOSUPPORT),
    KWZ_ERR(WSAEADDRINUSE),
    KWZ_ERR(WSAEADDRNOTAVAIL),
    KWZ_ERR(WSAENETDOWN),
    KWZ_ERR(WSAENETUNREACH),
    KWZ_ERR(WSAENETRESET),
    KWZ_ERR(WSAECONNABORTED),
    KWZ_ERR(WSAECONNRESET),
    KWZ_ERR(WSAENOBUFS),
    KWZ_ERR(WSAEISCONN),
    KWZ_ERR(WSAENOTCONN),
    KWZ_ERR(WSAESHUTDOWN),
    KWZ_ERR(WSAETIMEDOUT),
    KWZ_ERR(WSAECONNREFUSED),
    KWZ_ERR(WSAEHOSTUNREACH),
    KWZ_ERR(WSAEPROCLIM),
    KWZ_ERR(WSASYSNOTREADY),
    KWZ_ERR(WSAVERNOTSUPPORTED),
    KWZ_ERR(WSANOTINITIALISED),
    KWZ_ERR(WSAHOST_NOT_FOUND),
    KWZ_ERR(WSATRY_AGAIN),
    KWZ_ERR(WSANO_RECOVERY),
    KWZ_ERR(WSANO_DATA),
};

#undef KWZ_ERR

// A code added twice, or with a value that collides within its table, would make one of its
// names unreachable.
template <size_t N>
constexpr bool Unique(const ErrorName (&table)[N]) {
  for (size_t i = 0; i < N; ++i) {
    for (size_t j = i + 1; j < N; ++j) {
      if (table[i].code == table[j].code) return false;
    }
  }
  return true;
}
static_assert(Unique(kHresults) && Unique(kWin32Codes));

template <size_t N>
const WCHAR* Find(const ErrorName (&table)[N], DWORD code) {
  for (const ErrorName& entry : table) {
    if (entry.code == code) return entry.name;
  }
  return nullptr;
}

}  // namespace

const WCHAR* DXGetErrorStringW(HRESULT hr) {
  const auto code = static_cast<DWORD>(hr);
  if (const WCHAR* name = Find(kHresults, code)) return name;
  if (code <= 0xFFFFu) {
    if (const WCHAR* name = Find(kWin32Codes, code)) return name;
  }
  // HRESULT_FROM_WIN32: failure bit with FACILITY_WIN32 (7) around a Win32 code.
  if ((code & 0xFFFF0000u) == 0x80070000u) {
    if (const WCHAR* name = Find(kWin32Codes, code & 0xFFFFu)) return name;
  }
  return u"Unknown";
}
