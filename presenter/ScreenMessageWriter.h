// Writes screen messages as a presenter sends them: a 29-byte little-endian header, then the
// body. Written from the message format alone, so that tests of the receiver check it against
// an independent sender.
//
//   0      2      3      4        6      8       10       14        18       20      22
//   +------+------+------+--------+------+-------+--------+---------+--------+-------+
//   |"QZ"  |mode  |bytes/|reserved|width |height |reserved|ImageSize|reserved|cursorX|
//   |      |      |pixel |  0     |      |       |  0     |         |  0     |       |
//   +------+------+------+--------+------+-------+--------+---------+--------+-------+
//   22       24        25          27           29
//   +--------+---------+-----------+------------+------ ... body
//   |cursorY |reserved |BlockIndex |BodyLength  |
//   |        |  1      |           |            |
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace presenter {

constexpr std::size_t kScreenHeaderSize = 29;
constexpr std::uint16_t kScreenMagic = 0x5A51;  // the bytes "QZ"
constexpr std::uint16_t kNoCursor = 0xFFE0;     // the cursor is not on the shared area
// BodyLength has 16 bits: a longer body cannot be carried, and every receiver rejects it.
constexpr std::size_t kMaxBody = 0xFFFF;

struct ScreenMessageFields {
  std::uint8_t streamMode = 0;     // 0 geometry, 1 zlib block, 2 JPEG block, 3-6 video frame
  std::uint8_t bytesPerPixel = 4;  // 1 or 4 in block modes, 3 or 4 in video modes
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  std::uint32_t imageSize = 0;  // the sender's uncompressed screen size; receivers ignore it
  std::uint16_t cursorX = kNoCursor;
  std::uint16_t cursorY = kNoCursor;
  std::uint16_t blockIndex = 0;  // 0 in video modes
};

// Appends header and body to out (which is cleared first). BodyLength is written as the body
// size modulo 65536, as the format defines it; callers keep bodies within kMaxBody.
void WriteScreenMessage(const ScreenMessageFields& fields, const std::uint8_t* body,
                        std::size_t bodyLength, std::vector<std::uint8_t>* out);

}  // namespace presenter
