// How the drawing surface tells the control that the shared screen changed size. The control
// implements it and raises SizeUpdated to its container; the engine and its surface hold it
// without ownership, and it must outlive them.
#pragma once

#include <cstdint>

class IScreenSharing {
 public:
  // Called on the engine's thread, synchronously, before the first paint at a new padded size
  // or bit count; width and height are the shared screen's own (unpadded) size in pixels.
  virtual void OnScreenSizeChanged(std::uint32_t width, std::uint32_t height) = 0;

 protected:
  ~IScreenSharing() = default;
};
