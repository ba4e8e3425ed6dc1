// libFuzzer target for CVideoDecoder::Decode of every codec. Input layout:
//
//   byte 0      codec: MPEG-4, H.264, VP8, VP9, JPEG (modulo 5)
//   byte 1      output: bit 0-1 -> 32, 24, 16 bits; bit 2 -> flip RGB32; bit 3 -> 64x48 or 320x240
//   then        packets, each a 16-bit little-endian length and that many bytes (a short last
//               packet takes what is left)
//
// KWZ_FUZZ_CODEC=0..4 in the environment pins the codec whatever byte 0 says, so that one codec
// can be fuzzed on its own for a while.
//
// Every answer must be 0, 1 (or E_FAIL for VP8/VP9 before Open, which cannot happen here);
// a write past the frame trips AddressSanitizer or the guard bytes behind it.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/CVideoDecoder.h"
#include "platform/winerror.h"

namespace {

int PinnedSelector() {
  static const int pinned = [] {
    const char* value = std::getenv("KWZ_FUZZ_CODEC");
    return value == nullptr ? -1 : std::atoi(value) % 5;
  }();
  return pinned;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const int kCodecs[] = {kwz_codec::kCodecMpeg4, kwz_codec::kCodecH264, kwz_codec::kCodecVp8,
                                kwz_codec::kCodecVp9, kwz_codec::kCodecMjpeg};
  static const WORD kBits[] = {32, 24, 16, 32};
  const int codec = kCodecs[PinnedSelector() >= 0 ? PinnedSelector() : data[0] % 5];
  BITMAPINFOHEADER header = {};
  header.biWidth = (data[1] & 8) ? 320 : 64;
  header.biHeight = (data[1] & 8) ? 240 : 48;
  header.biBitCount = kBits[data[1] & 3];
  header.biCompression = BI_RGB;

  CVideoDecoder decoder;
  decoder.SetFrameRate(30);
  decoder.SetFlipRGB32((data[1] & 4) != 0);
  if (decoder.SetOutputFormat(&header) != S_OK) std::abort();
  decoder.SetCodecId(codec);
  if (decoder.Open() != S_OK) std::abort();
  // The conversions run in uninstrumented libraries, which AddressSanitizer does not watch:
  // guard bytes behind the frame catch their writes past it.
  constexpr size_t kGuardBytes = 64;
  constexpr BYTE kGuard = 0xA5;
  std::vector<BYTE> out(decoder.FrameSize() + kGuardBytes, kGuard);
  std::vector<BYTE> packet;
  size_t at = 2;
  while (at < size) {
    size_t length = data[at];
    if (at + 1 < size) length |= static_cast<size_t>(data[at + 1]) << 8;
    at += 2;
    if (at > size) break;
    length = std::min(length, size - at);
    // Exactly the packet and the 4 bytes the H.264 start code needs behind it.
    packet.assign(data + at, data + at + length);
    packet.resize(length + 4);
    at += length;
    DWORD bytes = 0;
    bool changed = false;
    const HRESULT result =
        decoder.Decode(packet.data(), static_cast<int>(length), out.data(), &bytes, &changed);
    if (result != S_OK && result != 1) std::abort();
    if (result == S_OK && bytes != decoder.FrameSize()) std::abort();
    for (size_t i = decoder.FrameSize(); i < out.size(); ++i) {
      if (out[i] != kGuard) std::abort();
    }
  }
  return 0;
}
