#include "web/KeyFrame.h"

namespace kwz_web {
namespace {

// The byte after each 00 00 01 start code, handed to visit until it returns true.
template <typename Visit>
bool AnyAfterStartCode(const std::uint8_t* body, std::size_t length, Visit visit) {
  for (std::size_t i = 0; i + 3 < length; ++i) {
    if (body[i] == 0 && body[i + 1] == 0 && body[i + 2] == 1 && visit(body + i + 3, length - i - 3))
      return true;
  }
  return false;
}

bool IsMpeg4KeyFrame(const std::uint8_t* body, std::size_t length) {
  // A VOP starts 00 00 01 B6; its first two bits are the coding type, 0 for intra.
  return AnyAfterStartCode(body, length, [](const std::uint8_t* p, std::size_t rest) {
    return rest >= 2 && p[0] == 0xB6 && (p[1] >> 6) == 0;
  });
}

bool IsH264KeyFrame(const std::uint8_t* body, std::size_t length) {
  constexpr std::uint8_t kIdrSlice = 5;
  return AnyAfterStartCode(
      body, length, [](const std::uint8_t* p, std::size_t) { return (p[0] & 0x1F) == kIdrSlice; });
}

bool IsVp8KeyFrame(const std::uint8_t* body, std::size_t length) {
  // Frame tag bit 0 clear marks a key frame, whose start code follows the 3-byte tag.
  return length >= 10 && (body[0] & 1) == 0 && body[3] == 0x9D && body[4] == 0x01 &&
         body[5] == 0x2A;
}

bool IsVp9KeyFrame(const std::uint8_t* body, std::size_t length) {
  if (length < 1) return false;
  // Uncompressed header, most significant bit first: frame marker (2), profile low and high
  // bits, a reserved zero in profile 3, show_existing_frame, frame_type (0: key frame). A
  // superframe puts its key frame first, so the first header decides.
  const std::uint8_t b = body[0];
  if ((b >> 6) != 2) return false;
  const int profile = ((b >> 5) & 1) | (((b >> 4) & 1) << 1);
  int bit = 4;  // the next bit, counted from the most significant
  if (profile == 3) ++bit;
  const auto read = [&](int position) {
    const std::size_t byte = static_cast<std::size_t>(position) / 8;
    return byte < length ? (body[byte] >> (7 - position % 8)) & 1 : -1;
  };
  const int showExisting = read(bit++);
  if (showExisting != 0) return false;
  return read(bit) == 0;
}

// A VP8 or VP9 body may start with a 4-byte word that says what the frame is: the decoder
// skips it and takes the rest as the frame.
constexpr std::uint32_t kVpxKeyMarker = 0x10010000;    // bytes 00 00 01 10
constexpr std::uint32_t kVpxInterMarker = 0xEFFEFFFF;  // bytes FF FF FE EF

// -1 when the body has no marker word, else whether it marks a key frame.
int VpxMarker(const std::uint8_t* body, std::size_t length) {
  if (length < 4) return -1;
  const std::uint32_t word =
      body[0] | body[1] << 8 | body[2] << 16 | static_cast<std::uint32_t>(body[3]) << 24;
  if (word == kVpxKeyMarker) return 1;
  if (word == kVpxInterMarker) return 0;
  return -1;
}

}  // namespace

bool IsKeyFrame(std::uint8_t streamMode, const std::uint8_t* body, std::size_t length) {
  if (body == nullptr) return false;
  switch (streamMode) {
    case 3:
      return IsMpeg4KeyFrame(body, length);
    case 4:
      return IsH264KeyFrame(body, length);
    case 5:
    case 6:
      if (const int marked = VpxMarker(body, length); marked >= 0) return marked == 1;
      return streamMode == 5 ? IsVp8KeyFrame(body, length) : IsVp9KeyFrame(body, length);
    default:
      return false;
  }
}

}  // namespace kwz_web
