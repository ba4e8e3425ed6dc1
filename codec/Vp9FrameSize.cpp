#include "codec/Vp9FrameSize.h"

#include <algorithm>
#include <vector>

namespace kwz_codec {
namespace {

// MSB-first bit reader that reports running past the end instead of reading on.
class BitReader {
 public:
  BitReader(const std::uint8_t* data, std::size_t length) : data_(data), bits_(length * 8) {}

  unsigned Read(int count) {
    unsigned value = 0;
    for (int i = 0; i < count; ++i) {
      if (position_ >= bits_) {
        overrun_ = true;
        return 0;
      }
      const unsigned bit = (data_[position_ / 8] >> (7 - position_ % 8)) & 1u;
      value = (value << 1) | bit;
      ++position_;
    }
    return value;
  }
  bool Overrun() const { return overrun_; }

 private:
  const std::uint8_t* data_;
  std::size_t bits_;
  std::size_t position_ = 0;
  bool overrun_ = false;
};

constexpr unsigned kColorSpaceRgb = 7;

void SkipColorConfig(BitReader& bits, unsigned profile) {
  if (profile >= 2) bits.Read(1);  // ten_or_twelve_bit
  const unsigned colorSpace = bits.Read(3);
  if (colorSpace != kColorSpaceRgb) {
    bits.Read(1);                                    // color_range
    if (profile == 1 || profile == 3) bits.Read(3);  // subsampling x, y, reserved
  } else if (profile == 1 || profile == 3) {
    bits.Read(1);  // reserved
  }
}

bool SyncCode(BitReader& bits) {
  return bits.Read(8) == 0x49 && bits.Read(8) == 0x83 && bits.Read(8) == 0x42;
}

Vp9Size FrameSize(BitReader& bits) {
  Vp9Size size;
  size.width = bits.Read(16) + 1;
  size.height = bits.Read(16) + 1;
  return bits.Overrun() ? Vp9Size{} : size;
}

// One frame's uncompressed header:
//   frame_marker(2)=2 profile_low(1) profile_high(1) [reserved(1) if profile 3]
//   show_existing_frame(1) [-> no size] frame_type(1) show_frame(1) error_resilient(1)
//   key frame:   sync code(24) color_config frame_size(16+16)
//   otherwise:   [intra_only(1) if !show_frame] [reset_context(2) if !error_resilient]
//     intra-only: sync code(24) [color_config if profile > 0] refresh(8) frame_size(16+16)
//     inter:      refresh(8) 3 x (ref_idx(3) sign_bias(1)) 3 x found_ref(1) until one is set;
//                 frame_size(16+16) only when none is
Vp9Size StatedSize(const std::uint8_t* data, std::size_t length) {
  BitReader bits(data, length);
  if (bits.Read(2) != 2) return {};
  unsigned profile = bits.Read(1);
  profile |= bits.Read(1) << 1;
  if (profile == 3) bits.Read(1);
  if (bits.Read(1) != 0) return {};  // shows a frame already decoded
  const bool keyFrame = bits.Read(1) == 0;
  const bool showFrame = bits.Read(1) != 0;
  const bool errorResilient = bits.Read(1) != 0;
  if (keyFrame) {
    if (!SyncCode(bits)) return {};
    SkipColorConfig(bits, profile);
    return FrameSize(bits);
  }
  const bool intraOnly = !showFrame && bits.Read(1) != 0;
  if (!errorResilient) bits.Read(2);
  if (intraOnly) {
    if (!SyncCode(bits)) return {};
    if (profile > 0) SkipColorConfig(bits, profile);
    bits.Read(8);
    return FrameSize(bits);
  }
  bits.Read(8);
  bits.Read(3 * 4);
  for (int i = 0; i < 3; ++i) {
    if (bits.Read(1) != 0) return {};  // the size of a reference, decoded before
  }
  return FrameSize(bits);
}

// A superframe ends in an index: marker 110mmfff, then fff+1 sizes of mm+1 bytes each
// (little-endian), then the marker again.
std::vector<std::size_t> FrameLengths(const std::uint8_t* data, std::size_t length) {
  const std::uint8_t marker = data[length - 1];
  if ((marker & 0xE0) == 0xC0) {
    const std::size_t frames = (marker & 7u) + 1;
    const std::size_t bytes = ((marker >> 3) & 3u) + 1;
    const std::size_t indexLength = 2 + bytes * frames;
    if (length >= indexLength && data[length - indexLength] == marker) {
      std::vector<std::size_t> lengths;
      const std::uint8_t* entry = data + length - indexLength + 1;
      for (std::size_t f = 0; f < frames; ++f) {
        std::size_t size = 0;
        for (std::size_t b = 0; b < bytes; ++b) size |= std::size_t{entry[b]} << (8 * b);
        entry += bytes;
        lengths.push_back(size);
      }
      return lengths;
    }
  }
  return {length};
}

}  // namespace

Vp9Size Vp9LargestStatedSize(const std::uint8_t* data, std::size_t length) {
  Vp9Size largest;
  if (data == nullptr || length == 0) return largest;
  std::size_t offset = 0;
  for (const std::size_t frameLength : FrameLengths(data, length)) {
    if (frameLength > length - offset) break;  // libvpx refuses the packet
    const Vp9Size size = StatedSize(data + offset, frameLength);
    largest.width = std::max(largest.width, size.width);
    largest.height = std::max(largest.height, size.height);
    offset += frameLength;
  }
  return largest;
}

}  // namespace kwz_codec
