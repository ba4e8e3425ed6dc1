// libFuzzer target for screen messages from reassembly to the window, as one pass of the engine
// takes them: cut into datagrams as a presenter sends them, read back by the screen endpoint,
// decoded into the surface and drawn into a window of the headless GDI backend. Input layout:
//
//   byte 0    bits 0-2: block geometry (table below); bit 3: stretch; bits 4-5: window size
//   then      up to kMaxMessages messages, each a u16 little-endian length and that many
//             bytes (a 29-byte screen header and its body, or anything else)
//
// Nothing may write outside its buffer (AddressSanitizer), read uninitialised pixels into the
// window, or allocate without bound; an accepted body always fits the engine's buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "engine/CBMPManager.h"
#include "fuzz/StreamHarness.h"
#include "fuzz/mutate/InputMutators.h"
#include "network/CScreenReceiver.h"
#include "packet/ScreenPacketFormat.h"
#include "platform/gdi_session.h"
#include "platform/ipp.h"
#include "platform/winuser.h"
#include "presenter/RtpPacketizer.h"

namespace {

using kwz_fuzz::Reader;
using Harness = kwz_fuzz::StreamHarness<CScreenReceiver>;

constexpr int kMaxMessages = 8;
// What the engine's body buffer starts with.
constexpr DWORD kBodyBufferSize = 180000;

// Widths and heights. The engine always uses 100x100 blocks; a few other grids check that
// nothing depends on it.
constexpr std::uint32_t kBlockSizes[][2] = {{100, 100}, {100, 100}, {100, 100}, {100, 100},
                                            {100, 100}, {64, 64},   {128, 32},  {256, 256}};
constexpr int kWindowSizes[][2] = {{64, 48}, {200, 150}, {1, 1}, {333, 257}};
// Larger screens are accepted but not painted: a 32-byte message can ask for a 128 MB surface,
// which costs most of a second under AddressSanitizer, for paths a small screen takes too.
constexpr std::int64_t kMaxPaintedPixels = std::int64_t{1} << 20;

// The engine's body buffer: an IPP allocation that the endpoint may replace.
struct BodyBuffer {
  BodyBuffer()
      : data(w7_ippsMalloc_8u(static_cast<int>(kBodyBufferSize))), capacity(kBodyBufferSize) {}
  ~BodyBuffer() { w7_ippsFree(data); }
  BYTE* data;
  DWORD capacity;
};

// One input: its messages through the endpoint, the surface and a window. Returns the
// outcome: what was accepted, decoded and drawn into the surface.
std::uint64_t RunMessages(const std::uint8_t* data, std::size_t size, Harness& harness) {
  Reader in(data, size);
  const std::uint8_t config = in.U8();
  const auto [blockWidth, blockHeight] = kBlockSizes[config & 7];
  // Windows are made once per size and kept: making one per input would cost more than a pass.
  static const bool headless =
      kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless);
  KWZ_FUZZ_CHECK(headless);
  static HWND windows[4] = {};
  HWND& window = windows[(config >> 4) & 3];
  if (window == nullptr) {
    window = CreateWindowExW(0, u"STATIC", u"surface", WS_POPUP | WS_VISIBLE, 0, 0,
                             kWindowSizes[(config >> 4) & 3][0], kWindowSizes[(config >> 4) & 3][1],
                             nullptr, nullptr, nullptr, nullptr);
  }
  KWZ_FUZZ_CHECK(window != nullptr);
  harness.Restart(0);
  CBMPManager surface(blockWidth, blockHeight);
  surface.SetStretch((config & 8) != 0);
  BodyBuffer body;
  presenter::RtpPacketizer::Options options;
  options.payloadSize = 1400;
  presenter::RtpPacketizer packetizer(options);
  kwz_fuzz::Outcome outcome;

  for (int m = 0; m < kMaxMessages && !in.Empty(); ++m) {
    const std::vector<std::uint8_t> message = in.Bytes(in.U16());
    packetizer.Packetize(message.data(), message.size(), 2u * static_cast<std::uint32_t>(m),
                         [&](const std::uint8_t* d, std::size_t n) {
                           harness.Deliver(std::vector<std::uint8_t>(d, d + n));
                         });
    BITMAPINFOHEADER header{};
    DWORD blockIndex = 0;
    DWORD bodyLength = body.capacity;
    BYTE* const before = body.data;
    const bool accepted = harness.endpoint().Receive(&header, &blockIndex, &body.data, &bodyLength);
    if (body.data != before) body.capacity = accepted ? header.biSizeImage : 0;
    KWZ_FUZZ_CHECK(harness.tunnel().Pending() == 0);
    outcome.Add(accepted);
    if (!accepted) continue;

    KWZ_FUZZ_CHECK(bodyLength + screen_packet::kHeaderSize == message.size());
    KWZ_FUZZ_CHECK(bodyLength <= body.capacity);
    KWZ_FUZZ_CHECK(header.biSizeImage <= screen_packet::kMaxImageSize);
    const DWORD mode = header.biCompression;
    KWZ_FUZZ_CHECK(mode < screen_packet::kStreamModeCount);
    outcome.AddBytes(&header, sizeof header);
    outcome.Add(blockIndex);
    if (std::abs(std::int64_t{header.biWidth}) * std::abs(std::int64_t{header.biHeight}) >
        kMaxPaintedPixels)
      continue;
    surface.SetStreamMode(mode);
    header.biCompression = header.biBitCount / 8u;
    const std::int32_t decoded = surface.DecodeMessage(header, blockIndex, body.data, bodyLength);
    KWZ_FUZZ_CHECK(decoded >= -1);
    DWORD cursorX = 0, cursorY = 0;
    harness.endpoint().GetRemoteCursor(&cursorX, &cursorY);
    surface.Draw(header, window, static_cast<std::uint16_t>(cursorX),
                 static_cast<std::uint16_t>(cursorY));
    outcome.Add(static_cast<std::uint32_t>(decoded), cursorX, cursorY);
  }
  if (surface.Pixels() != nullptr) outcome.AddBytes(surface.Pixels(), surface.PixelsSize());
  return outcome.value();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // libavcodec reports every damaged frame on stderr, which would fill a long run's logs.
  static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
  (void)quiet;
  // One endpoint for the run, restarted per input (opening one cost as much as a drawing). Its
  // message buffer may stay grown: every message a u16 length gives fits a fresh one's anyway.
  static_assert(0xFFFF < screen_packet::kInitialCapacity);
  static Harness harness(0);
  harness.endpoint().SetWaitMs(0);
  kwz_fuzz::RunInput([&] { return RunMessages(data, size, harness); });
  return 0;
}

// Messages keep their header plausible under mutation (see InputMutators.h).
KWZ_FUZZ_CUSTOM_MUTATOR(kwz_fuzz::MutateScreenInput, kwz_fuzz::CrossOverScreenInput)
