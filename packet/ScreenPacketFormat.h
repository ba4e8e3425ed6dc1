// Wire constants of the screen message: a 29-byte little-endian header, then the body.
//
//   0      2      3      4        6      8       10       14        18       20      22
//   +------+------+------+--------+------+-------+--------+---------+--------+-------+
//   |"QZ"  |mode  |bytes/|reserved|width |height |reserved|ImageSize|reserved|cursorX|
//   |      |      |pixel |  0     |      |       |  0     |(unused) |  0     |       |
//   +------+------+------+--------+------+-------+--------+---------+--------+-------+
//   22       24        25          27           29
//   +--------+---------+-----------+------------+------ ... body (BodyLength bytes)
//   |cursorY |reserved |BlockIndex |BodyLength  |
//   |        |  1      |           |            |
#pragma once

#include <cstdint>

#include "runtime/PictureLimits.h"

namespace screen_packet {

constexpr std::uint32_t kHeaderSize = 29;
constexpr std::uint16_t kMagic = 0x5A51;  // the bytes "QZ"
// Stream modes 0 (geometry only) to 6; anything from here on is not a screen message.
constexpr std::uint8_t kStreamModeCount = 7;
// The cursor position of a presenter whose cursor is off the shared area.
constexpr std::uint16_t kNoCursor = 0xFFE0;
// Every datagram of the screen stream carries this RTP payload type.
constexpr std::uint8_t kPayloadType = 113;
// What the receive packet holds before any screen was seen; comfortably above the largest
// message a 16-bit BodyLength can describe.
constexpr std::uint32_t kInitialCapacity = 180000;

// Width, height and bytes per pixel come off the wire, and the decoded image size they imply
// decides how much the receiver and the engine allocate. A message beyond these bounds is
// treated as malformed, so no datagram can ask for more than kMaxImageSize bytes. The side
// bound is the decoders' own, so every screen accepted is one they open; the size bound takes
// an 8K screen (7680 x 4320 at 32 bits, 126.6 MiB) and keeps a hostile sender's largest
// screen, which the block modes fill white at once, well inside what a viewer may spend on
// memory.
constexpr std::uint32_t kMaxDimension = kMaxPictureSide;
constexpr std::uint64_t kMaxImageSize = std::uint64_t{128} << 20;

}  // namespace screen_packet
