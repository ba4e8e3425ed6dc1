// What the gateway sends a browser in one WebSocket message: a screen message exactly as the
// presenter coded it (or as the gateway re-coded it into blocks), behind one byte of flags, or
// a status line as text. Frames are built once and shared by every browser that receives them,
// so a frame's memory does not grow with the number of browsers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kwz_web {

// Bit 0 of the flags byte: a video frame that a decoder can start from.
constexpr std::uint8_t kFrameFlagKey = 0x01;
constexpr std::size_t kFrameFlagsSize = 1;

// The fields of a screen message that decide what a browser does with it.
struct ScreenFields {
  std::uint8_t streamMode = 0;
  std::uint8_t bytesPerPixel = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  std::uint16_t cursorX = 0;
  std::uint16_t cursorY = 0;
  std::uint16_t blockIndex = 0;
};

struct BrowserFrame {
  std::string wire;  // the WebSocket message's payload
  bool text = false;
  ScreenFields fields;  // screen frames only
  bool keyFrame = false;

  bool IsVideo() const { return !text && fields.streamMode >= 3; }
};

using BrowserFramePtr = std::shared_ptr<const BrowserFrame>;

// A screen frame for the message with these fields and body (at most 65535 bytes).
BrowserFramePtr MakeScreenFrame(const ScreenFields& fields, const std::uint8_t* body,
                                std::size_t bodyLength, bool keyFrame);
BrowserFramePtr MakeTextFrame(std::string text);

}  // namespace kwz_web
