#include "web/BrowserFrame.h"

#include <vector>

#include "presenter/ScreenMessageWriter.h"

namespace kwz_web {

BrowserFramePtr MakeScreenFrame(const ScreenFields& fields, const std::uint8_t* body,
                                std::size_t bodyLength, bool keyFrame) {
  presenter::ScreenMessageFields header;
  header.streamMode = fields.streamMode;
  header.bytesPerPixel = fields.bytesPerPixel;
  header.width = fields.width;
  header.height = fields.height;
  header.cursorX = fields.cursorX;
  header.cursorY = fields.cursorY;
  header.blockIndex = fields.blockIndex;
  std::vector<std::uint8_t> message;
  presenter::WriteScreenMessage(header, body, bodyLength, &message);

  auto frame = std::make_shared<BrowserFrame>();
  frame->wire.reserve(kFrameFlagsSize + message.size());
  frame->wire.push_back(static_cast<char>(keyFrame ? kFrameFlagKey : 0));
  frame->wire.append(message.begin(), message.end());
  frame->fields = fields;
  frame->keyFrame = keyFrame;
  return frame;
}

BrowserFramePtr MakeTextFrame(std::string text) {
  auto frame = std::make_shared<BrowserFrame>();
  frame->wire = std::move(text);
  frame->text = true;
  return frame;
}

}  // namespace kwz_web
