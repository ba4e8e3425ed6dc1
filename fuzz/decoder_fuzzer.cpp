// libFuzzer target for CVideoDecoder::Decode of every codec. Input layout:
//
//   byte 0      codec: MPEG-4, H.264, VP8, VP9, JPEG (modulo 5; KWZ_FUZZ_CODEC=0..4 in the
//               environment pins it, to fuzz one codec on its own)
//   byte 1      output: bits 0-1 -> 32, 24, 16 bits; bit 2 -> flip RGB32; bit 3 -> 64x48 or
//               320x240; bit 4 -> how the packets are framed
//   then        bit 4 clear: packets, each a 16-bit little-endian length and that many bytes (a
//               short last packet takes what is left); bit 4 set: packets separated by the tag
//               "KWZ!", so that a mutation inside one packet leaves the others whole
//
// Every answer is 0 or 1; a write past the frame trips AddressSanitizer or the guard bytes behind
// it. Each input gets a decoder opened afresh (the wrapper has no other reset); repeated, it gives
// the same frames: a frame reported decoded is written whole, with nothing left from an earlier
// one. libavcodec's complaints about damaged packets stay unprinted: they cost a tenth of the run.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <span>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "codec/CVideoDecoder.h"
#include "fuzz/FuzzSupport.h"
#include "platform/winerror.h"

namespace {

constexpr std::uint8_t kPacketTag[] = {'K', 'W', 'Z', '!'};
using Packet = std::span<const std::uint8_t>;

// Cuts the input after the two leading bytes into packets, by length or at the tag.
std::vector<Packet> Packets(const std::uint8_t* data, size_t size, bool tagged) {
  std::vector<Packet> packets;
  if (!tagged) {
    kwz_fuzz::Reader in(data + 2, size - 2);
    while (!in.Empty()) packets.push_back(in.Take(in.U16()));
    return packets;
  }
  const std::uint8_t* end = data + size;
  for (const std::uint8_t* from = data + 2;; from += sizeof kPacketTag) {
    const std::uint8_t* tag = std::search(from, end, std::begin(kPacketTag), std::end(kPacketTag));
    packets.emplace_back(from, tag);
    if (tag == end) return packets;
    from = tag;
  }
}

// The conversions run in uninstrumented libraries, which AddressSanitizer does not watch:
// guard bytes behind the frame catch their writes past it.
constexpr size_t kGuardBytes = 64;
constexpr BYTE kGuard = 0xA5;

// Decodes the input's packets with a decoder of their own; returns what came out.
std::uint64_t DecodeAll(const std::uint8_t* data, size_t size) {
  static const int kCodecs[] = {kwz_codec::kCodecMpeg4, kwz_codec::kCodecH264, kwz_codec::kCodecVp8,
                                kwz_codec::kCodecVp9, kwz_codec::kCodecMjpeg};
  static const WORD kBits[] = {32, 24, 16, 32};
  static const char* const pinnedText = std::getenv("KWZ_FUZZ_CODEC");
  static const int pinned = pinnedText != nullptr ? std::abs(std::atoi(pinnedText)) : -1;
  const int codec = kCodecs[(pinned >= 0 ? pinned : data[0]) % 5];
  BITMAPINFOHEADER header = {.biWidth = (data[1] & 8) ? 320 : 64,
                             .biHeight = (data[1] & 8) ? 240 : 48,
                             .biBitCount = kBits[data[1] & 3],
                             .biCompression = BI_RGB};

  CVideoDecoder decoder;
  decoder.SetFrameRate(30);
  decoder.SetFlipRGB32((data[1] & 4) != 0);
  KWZ_FUZZ_CHECK(decoder.SetOutputFormat(&header) == S_OK);
  decoder.SetCodecId(codec);
  KWZ_FUZZ_CHECK(decoder.Open() == S_OK);
  // One output frame per frame size for the run; its guard bytes are intact between uses.
  static std::map<DWORD, std::vector<BYTE>> frames;
  std::vector<BYTE>& out =
      frames.try_emplace(decoder.FrameSize(), decoder.FrameSize() + kGuardBytes, kGuard)
          .first->second;
  kwz_fuzz::Outcome outcome;
  for (const Packet packet : Packets(data, size, (data[1] & 0x10) != 0)) {
    // Exactly the packet and the 4 bytes the H.264 start code needs behind it, in an
    // allocation of its own so that AddressSanitizer sees a read past them.
    std::unique_ptr<BYTE[]> exact(new BYTE[packet.size() + 4]());
    std::copy(packet.begin(), packet.end(), exact.get());
    DWORD bytes = 0;
    bool changed = false;
    const HRESULT result =
        decoder.Decode(exact.get(), static_cast<int>(packet.size()), out.data(), &bytes, &changed);
    KWZ_FUZZ_CHECK(result == S_OK || result == 1);
    outcome.Add(static_cast<std::uint32_t>(result));
    if (result == S_OK) {
      KWZ_FUZZ_CHECK(bytes == decoder.FrameSize());
      outcome.Add(changed);
      outcome.AddBytes(out.data(), bytes);
    }
    KWZ_FUZZ_CHECK(std::all_of(out.begin() + decoder.FrameSize(), out.end(),
                               [](BYTE b) { return b == kGuard; }));
  }
  return outcome.value();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
  (void)quiet;
  if (size < 2) return 0;
  kwz_fuzz::RunInput([&] { return DecodeAll(data, size); });
  return 0;
}
