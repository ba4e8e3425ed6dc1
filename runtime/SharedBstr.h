// A reference-counted BSTR holder: copies share one string, the last one frees it.
#pragma once

#include <memory>

#include "platform/oleauto.h"

class SharedBstr {
 public:
  SharedBstr() = default;
  // Copies text; a null text stays null, and so does a copy that cannot be allocated.
  explicit SharedBstr(const WCHAR* text);

  // Null when no text is held.
  const WCHAR* get() const { return rep_ ? rep_->text : nullptr; }

 private:
  struct Rep {
    explicit Rep(BSTR t) : text(t) {}
    ~Rep() { SysFreeString(text); }
    Rep(const Rep&) = delete;
    Rep& operator=(const Rep&) = delete;
    BSTR text;
  };
  std::shared_ptr<const Rep> rep_;
};
