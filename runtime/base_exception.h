// The exception family of the system's set-up failures. Thrown and caught by value; copies are
// cheap because they share their texts.
#pragma once

#include "platform/wintypes.h"
#include "runtime/SharedBstr.h"

class base_exception {
 public:
  // Source "Exception", empty message, code 0.
  base_exception(const WCHAR* file, LONG line);

  const WCHAR* file() const { return file_.get(); }
  LONG line() const { return line_; }
  const WCHAR* source() const { return source_.get(); }
  const WCHAR* message() const { return message_.get(); }
  DWORD code() const { return code_; }

 protected:
  // Each derived class names itself as the source and sets its message and code.
  base_exception(const WCHAR* file, LONG line, const WCHAR* source, const WCHAR* message,
                 DWORD code);

 private:
  SharedBstr file_;
  LONG line_;
  SharedBstr source_;
  SharedBstr message_;
  DWORD code_;
};

// Each derived class adds no field: it only names itself as the source.
#define KWZ_DECLARE_EXCEPTION(name, sourceText)                          \
  class name : public base_exception {                                   \
   public:                                                               \
    name(const WCHAR* file, LONG line, const WCHAR* message, DWORD code) \
        : base_exception(file, line, sourceText, message, code) {}       \
  }

KWZ_DECLARE_EXCEPTION(exc_screen_receiver, u"screen_receiver");
KWZ_DECLARE_EXCEPTION(exc_CNetwork, u"CNetwork");
KWZ_DECLARE_EXCEPTION(exc_create_shared_memory, u"create_shared_memory");
KWZ_DECLARE_EXCEPTION(exc_set_shared_socket, u"set_shared_socket");
KWZ_DECLARE_EXCEPTION(exc_get_shared_socket, u"get_shared_socket");

#undef KWZ_DECLARE_EXCEPTION
