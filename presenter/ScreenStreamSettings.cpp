#include "presenter/ScreenStreamSettings.h"

namespace presenter {

const char* ScreenStreamSettings::Problem() const {
  if (streamMode < 0 || streamMode > 6) return "the stream mode must be 0 to 6";
  if (streamMode <= 1 && bytesPerPixel != 1 && bytesPerPixel != 4)
    return "block modes carry 8-bit or 32-bit pixels";
  if (streamMode == 2 && bytesPerPixel != 4) return "JPEG blocks carry 32-bit pixels only";
  if (streamMode >= 3 && bytesPerPixel != 3 && bytesPerPixel != 4)
    return "video modes decode to 24-bit or 32-bit pixels";
  if (frameRate < 1 || frameRate > 60) return "the frame rate must be 1 to 60";
  if (bitRateKbps < 0 || bitRateKbps > 100000) return "the bit rate must be 0 to 100000 kbit/s";
  if (refreshFrames < 0) return "the refresh period cannot be negative";
  if (zlibLevel < 1 || zlibLevel > 9) return "the zlib level must be 1 to 9";
  if (jpegQuality < 0 || jpegQuality > 100) return "the JPEG quality must be 0 to 100";
  return nullptr;
}

}  // namespace presenter
