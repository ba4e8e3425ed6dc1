#include "presenter/ScreenMessageWriter.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using presenter::ScreenMessageFields;

TEST(ScreenMessageWriter, HeaderBytesMatchTheLayout) {
  ScreenMessageFields f;
  f.streamMode = 4;
  f.bytesPerPixel = 3;
  f.width = 1366;
  f.height = 768;
  f.imageSize = 0x01020304;
  f.cursorX = 0x1234;
  f.cursorY = presenter::kNoCursor;
  f.blockIndex = 0xBEEF;
  const std::uint8_t body[] = {9, 8, 7};
  std::vector<std::uint8_t> out;
  presenter::WriteScreenMessage(f, body, sizeof body, &out);

  const std::vector<std::uint8_t> expected = {0x51, 0x5A,              // magic "QZ"
                                              4,    3,                 // mode, bytes per pixel
                                              0,    0,                 // reserved
                                              0x56, 0x05,              // width 1366
                                              0x00, 0x03,              // height 768
                                              0,    0,    0,    0,     // reserved
                                              0x04, 0x03, 0x02, 0x01,  // image size
                                              0,    0,                 // reserved
                                              0x34, 0x12,              // cursor x
                                              0xE0, 0xFF,              // cursor y: none
                                              1,                       // reserved, always 1
                                              0xEF, 0xBE,              // block index
                                              3,    0,                 // body length
                                              9,    8,    7};
  EXPECT_EQ(out, expected);
}

}  // namespace
