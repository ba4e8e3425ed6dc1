#include "presenter/ScreenMessageWriter.h"

#include <cstring>

namespace presenter {
namespace {

void Put16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

void WriteScreenMessage(const ScreenMessageFields& fields, const std::uint8_t* body,
                        std::size_t bodyLength, std::vector<std::uint8_t>* out) {
  out->assign(kScreenHeaderSize + bodyLength, 0);
  std::uint8_t* h = out->data();
  Put16(h + 0, kScreenMagic);
  h[2] = fields.streamMode;
  h[3] = fields.bytesPerPixel;
  Put16(h + 6, fields.width);
  Put16(h + 8, fields.height);
  Put32(h + 14, fields.imageSize);
  Put16(h + 20, fields.cursorX);
  Put16(h + 22, fields.cursorY);
  h[24] = 1;
  Put16(h + 25, fields.blockIndex);
  Put16(h + 27, static_cast<std::uint16_t>(bodyLength));
  if (bodyLength != 0) std::memcpy(h + kScreenHeaderSize, body, bodyLength);
}

}  // namespace presenter
