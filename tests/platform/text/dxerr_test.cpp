#include "platform/dxerr.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/widestring.h"
#include "platform/winerror.h"

namespace {

struct NameCase {
  HRESULT code;
  const WCHAR* name;
};

TEST(DXGetErrorStringWTest, NamesTheCodesTheSystemReports) {
  const NameCase cases[] = {
      {S_OK, u"S_OK"},
      {E_INVALIDARG, u"E_INVALIDARG"},
      {E_FAIL, u"E_FAIL"},
      {E_POINTER, u"E_POINTER"},
      {E_OUTOFMEMORY, u"E_OUTOFMEMORY"},
      {E_NOTIMPL, u"E_NOTIMPL"},
      {E_UNEXPECTED, u"E_UNEXPECTED"},
      {DISP_E_EXCEPTION, u"DISP_E_EXCEPTION"},
      {CONNECT_E_NOCONNECTION, u"CONNECT_E_NOCONNECTION"},
      {CONNECT_E_ADVISELIMIT, u"CONNECT_E_ADVISELIMIT"},
      {CONNECT_E_CANNOTCONNECT, u"CONNECT_E_CANNOTCONNECT"},
      {CONNECT_E_OVERRIDDEN, u"CONNECT_E_OVERRIDDEN"},
      {STG_E_INVALIDPOINTER, u"STG_E_INVALIDPOINTER"},
      {static_cast<HRESULT>(ERROR_ALREADY_EXISTS), u"ERROR_ALREADY_EXISTS"},
      {static_cast<HRESULT>(ERROR_CLASS_ALREADY_EXISTS), u"ERROR_CLASS_ALREADY_EXISTS"},
      {WSAEADDRINUSE, u"WSAEADDRINUSE"},
      {WSANO_DATA, u"WSANO_DATA"},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(std::u16string(DXGetErrorStringW(c.code)), c.name) << Narrow(c.name);
  }
}

TEST(DXGetErrorStringWTest, SharedValuesPreferTheHresultName) {
  // 0 and 1 are S_OK and S_FALSE as well as ERROR_SUCCESS and ERROR_INVALID_FUNCTION.
  EXPECT_EQ(std::u16string(DXGetErrorStringW(0)), u"S_OK");
  EXPECT_EQ(std::u16string(DXGetErrorStringW(1)), u"S_FALSE");
}

TEST(DXGetErrorStringWTest, Win32CodesWrappedAsHresults) {
  const NameCase cases[] = {
      {MakeHresult(0x80070002u), u"ERROR_FILE_NOT_FOUND"},
      {HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), u"ERROR_ALREADY_EXISTS"},
      {HRESULT_FROM_WIN32(ERROR_INVALID_FUNCTION), u"ERROR_INVALID_FUNCTION"},
      {HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY), u"ERROR_NOT_ENOUGH_MEMORY"},
      {HRESULT_FROM_WIN32(WSAECONNREFUSED), u"WSAECONNREFUSED"},
      // These wrapped values have E_ names of their own, which win.
      {HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), u"E_ACCESSDENIED"},
      {HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE), u"E_HANDLE"},
      {HRESULT_FROM_WIN32(ERROR_OUTOFMEMORY), u"E_OUTOFMEMORY"},
      {HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER), u"E_INVALIDARG"},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(std::u16string(DXGetErrorStringW(c.code)), c.name) << Narrow(c.name);
  }
}

TEST(DXGetErrorStringWTest, UnknownValues) {
  const HRESULT unknown[] = {
      MakeHresult(0x12345678u),
      MakeHresult(0x80070007u),  // FACILITY_WIN32 around a code with no name
      MakeHresult(0x80080002u),  // a named Win32 code under another facility
      MakeHresult(0x00070002u),  // FACILITY_WIN32 without the failure bit
      MakeHresult(0x80000000u), MakeHresult(0xFFFFFFFFu), 9999,
  };
  for (const HRESULT code : unknown) {
    const WCHAR* name = DXGetErrorStringW(code);
    ASSERT_NE(name, nullptr) << std::hex << code;
    EXPECT_EQ(std::u16string(name), u"Unknown") << std::hex << code;
  }
}

}  // namespace
