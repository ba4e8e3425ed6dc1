// Screen messages as the presenter's streamer sends them, turned into the frames the gateway
// hands browsers, for the gateway's stream tests.
#pragma once

#include <vector>

#include "tests/presenter/ViewerHarness.h"
#include "web/BrowserFrame.h"
#include "web/KeyFrame.h"

namespace kwz_test {

inline kwz_web::BrowserFramePtr BrowserFrameOf(const SentMessage& m) {
  kwz_web::ScreenFields fields;
  fields.streamMode = static_cast<std::uint8_t>(m.mode);
  fields.bytesPerPixel = static_cast<std::uint8_t>(m.bytesPerPixel);
  fields.width = static_cast<std::uint16_t>(m.width);
  fields.height = static_cast<std::uint16_t>(m.height);
  fields.cursorX = m.cursorX;
  fields.cursorY = m.cursorY;
  fields.blockIndex = static_cast<std::uint16_t>(m.blockIndex);
  const std::uint8_t* body = m.bytes.data() + 29;
  return kwz_web::MakeScreenFrame(fields, body, m.bodyLength,
                                  kwz_web::IsKeyFrame(fields.streamMode, body, m.bodyLength));
}

// The screen message inside a frame, as a viewer would receive it.
inline SentMessage SentMessageOf(const kwz_web::BrowserFrame& frame) {
  SentMessage m;
  m.bytes.assign(frame.wire.begin() + kwz_web::kFrameFlagsSize, frame.wire.end());
  m.mode = frame.fields.streamMode;
  m.bytesPerPixel = frame.fields.bytesPerPixel;
  m.width = frame.fields.width;
  m.height = frame.fields.height;
  m.blockIndex = frame.fields.blockIndex;
  m.cursorX = frame.fields.cursorX;
  m.cursorY = frame.fields.cursorY;
  m.bodyLength = m.bytes.size() - 29;
  return m;
}

}  // namespace kwz_test
