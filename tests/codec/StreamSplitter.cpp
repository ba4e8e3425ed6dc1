#include "tests/codec/StreamSplitter.h"

#include <cstring>

namespace kwz_test {

namespace {

using Bytes = std::vector<std::uint8_t>;

// Offsets of the three-byte prefixes 00 00 01 (a four-byte 00 00 00 01 starts one earlier).
std::vector<size_t> StartCodes(const Bytes& s) {
  std::vector<size_t> out;
  for (size_t i = 0; i + 3 <= s.size(); ++i) {
    if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
      out.push_back(i > 0 && s[i - 1] == 0 ? i - 1 : i);
      i += 2;
    }
  }
  return out;
}

CodedFrame Slice(const Bytes& s, size_t from, size_t to, bool key) {
  return {Bytes(s.begin() + static_cast<long>(from), s.begin() + static_cast<long>(to)), key};
}

}  // namespace

// An access unit ends before a parameter set, SEI or delimiter that follows its slices, or
// before a slice whose first_mb_in_slice is 0 (its ue(v) code is the single bit 1).
std::vector<CodedFrame> SplitAnnexB(const Bytes& s) {
  std::vector<CodedFrame> out;
  const std::vector<size_t> starts = StartCodes(s);
  size_t auStart = 0;
  bool haveSlice = false, key = false;
  for (size_t n = 0; n < starts.size(); ++n) {
    size_t header = starts[n] + (s[starts[n] + 2] == 1 ? 3 : 4);
    if (header + 1 >= s.size()) break;
    const int type = s[header] & 0x1F;
    const bool slice = type == 1 || type == 5;
    const bool boundary =
        haveSlice && ((type >= 6 && type <= 9) || (slice && (s[header + 1] & 0x80) != 0));
    if (boundary) {
      out.push_back(Slice(s, auStart, starts[n], key));
      auStart = starts[n];
      haveSlice = key = false;
    }
    haveSlice = haveSlice || slice;
    key = key || type == 5;
  }
  if (haveSlice) out.push_back(Slice(s, auStart, s.size(), key));
  return out;
}

//  0      4        6         8        12   ...   32: file header ("DKIF", version, header size)
//  then per frame: 4 bytes size (LE), 8 bytes timestamp, size bytes of frame.
std::vector<CodedFrame> SplitIvf(const Bytes& f, bool vp9) {
  std::vector<CodedFrame> out;
  if (f.size() < 32 || std::memcmp(f.data(), "DKIF", 4) != 0) return out;
  size_t at = f[6] | f[7] << 8;
  while (at + 12 <= f.size()) {
    const size_t size =
        f[at] | f[at + 1] << 8 | f[at + 2] << 16 | static_cast<size_t>(f[at + 3]) << 24;
    at += 12;
    if (size == 0 || at + size > f.size()) break;
    const std::uint8_t b = f[at];
    bool key;
    if (!vp9) {
      key = (b & 1) == 0;  // frame type bit: 0 is a key frame
    } else {
      // frame_marker(2) profile_low(1) profile_high(1) [reserved(1) if profile 3]
      // show_existing_frame(1) frame_type(1)
      const int profile = ((b >> 5) & 1) | ((b >> 4) & 1) << 1;
      const int shift = profile == 3 ? 2 : 3;
      key = ((b >> shift) & 1) == 0 && ((b >> (shift - 1)) & 1) == 0;
    }
    out.push_back(Slice(f, at, at + size, key));
    at += size;
  }
  return out;
}

}  // namespace kwz_test
