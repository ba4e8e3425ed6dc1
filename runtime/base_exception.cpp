#include "runtime/base_exception.h"

SharedBstr::SharedBstr(const WCHAR* text) {
  if (text == nullptr) return;
  BSTR copy = SysAllocString(text);
  if (copy != nullptr) rep_ = std::make_shared<const Rep>(copy);
}

base_exception::base_exception(const WCHAR* file, LONG line)
    : file_(file), line_(line), source_(u"Exception"), message_(u""), code_(0) {}

base_exception::base_exception(const WCHAR* file, LONG line, const WCHAR* source,
                               const WCHAR* message, DWORD code)
    : file_(file), line_(line), source_(source), message_(message), code_(code) {}
