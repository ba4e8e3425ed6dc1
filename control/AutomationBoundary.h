// Where the control's automation members meet the container: set-up failures travel inside as
// exceptions and leave here as an HRESULT with the thread's COM error information, so a script
// sees a description instead of a crash.
//
// Called on the container's thread, inside the member that the container called.
#pragma once

#include <exception>

#include "platform/com_exception.h"
#include "platform/winerror.h"
#include "runtime/base_exception.h"

namespace kwz_control {

// Replaces the thread's error information with one that carries description, guid and source
// (null: none). Allocation failures leave no error information.
void SetThreadErrorInfo(const WCHAR* description, REFGUID guid, const WCHAR* source);

// What each kind of caught exception is reported as; each returns the member's result.
// A system exception is also logged and shown in the debugger output.
HRESULT ReportSystemException(const base_exception& error);
HRESULT ReportStandardException(const std::exception& error);
HRESULT ReportFrameworkException(const CAtlException& error);
// unknownText is the narrow text naming the member ("KWZ Unknown exception\n...").
HRESULT ReportUnknownException(const char* unknownText);

// Runs body (returning HRESULT) and turns whatever it throws into the member's result.
template <typename Body>
HRESULT RunAtBoundary(const char* unknownText, Body&& body) {
  try {
    return body();
  } catch (const base_exception& error) {
    return ReportSystemException(error);
  } catch (const std::exception& error) {
    return ReportStandardException(error);
  } catch (const CAtlException& error) {
    return ReportFrameworkException(error);
  } catch (...) {
    return ReportUnknownException(unknownText);
  }
}

}  // namespace kwz_control
