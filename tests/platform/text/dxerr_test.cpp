// DXGetErrorStringW's lookup rules: an HRESULT by its name, a Win32 code wrapped as an HRESULT by
// the Win32 name unless the HRESULT has one of its own, and "Unknown" for anything else. Plain
// names are kwz-regsvr's and kwz-viewer's error messages, tested with the programs.
#include "platform/dxerr.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/widestring.h"
#include "platform/winerror.h"

namespace {

TEST(DXGetErrorStringWTest, NamesHresultsAndWrappedWin32Codes) {
  const struct {
    HRESULT code;
    const WCHAR* name;
  } cases[] = {
      {WSAEADDRINUSE, u"WSAEADDRINUSE"},
      // 0 and 1 are ERROR_SUCCESS and ERROR_INVALID_FUNCTION too: the HRESULT names win.
      {0, u"S_OK"},
      {1, u"S_FALSE"},
      {HRESULT_FROM_WIN32(ERROR_INVALID_FUNCTION), u"ERROR_INVALID_FUNCTION"},
      // A wrapped value with an E_ name of its own is called by it.
      {HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), u"E_ACCESSDENIED"},
      {HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER), u"E_INVALIDARG"},
      // No name: an unnamed wrapped code, a named code under another facility or without the
      // failure bit, and values no table has.
      {MakeHresult(0x80070007u), u"Unknown"},
      {MakeHresult(0x80080002u), u"Unknown"},
      {MakeHresult(0x00070002u), u"Unknown"},
      {MakeHresult(0xFFFFFFFFu), u"Unknown"},
      {9999, u"Unknown"},
  };
  for (const auto& c : cases) {
    const WCHAR* name = DXGetErrorStringW(c.code);
    ASSERT_NE(name, nullptr) << std::hex << c.code;
    EXPECT_EQ(std::u16string(name), c.name) << std::hex << c.code;
  }
}

}  // namespace
