// Where the presenter's frames come from: a synthetic desktop, still images or a live screen.
//
// A source is owned by the sending loop and called from its thread only.
#pragma once

#include <cstdint>

#include "presenter/CScreenStreamer.h"
#include "runtime/base_exception.h"

class exc_screen_source : public base_exception {
 public:
  exc_screen_source(const WCHAR* file, LONG line, const WCHAR* message, DWORD code)
      : base_exception(file, line, u"screen_source", message, code) {}
};

namespace presenter {

class IScreenSource {
 public:
  virtual ~IScreenSource() = default;
  // Captures frame number frame (counted from 0 at the pace of the loop). The frame's pixels
  // belong to the source and stay valid until the next call. False when no frame could be
  // captured this time.
  virtual bool Capture(std::uint32_t frame, ScreenFrame* out) = 0;
};

}  // namespace presenter
