#include "apps/kwz-present/PresentRun.h"

#include <algorithm>
#include <cinttypes>

#include "platform/gdi_testing.h"
#include "platform/widestring.h"
#include "presenter/CFramePacer.h"
#include "presenter/CPngSource.h"
#include "presenter/CRemoteInputListener.h"
#include "presenter/CScreenCaptureSource.h"
#include "presenter/CScreenSender.h"
#include "presenter/CScreenStreamer.h"
#include "presenter/CSyntheticSource.h"
#include "presenter/IFrameEncoder.h"

namespace kwz_present {
namespace {

// RTP's usual clock for video.
constexpr std::uint64_t kRtpClockHz = 90000;

// A screen that a video encoder cannot fit into one message is skipped frame after frame, and
// nothing reaches the viewers. When this many frames have passed and none went out, the user is
// told why, once.
constexpr std::uint64_t kUnsentBeforeWarning = 10;

// Frames are counted at the pace of the clock (missed slots included), so a time limit is a
// frame count too: N seconds are N × rate frame slots.
std::uint64_t FrameLimit(const PresentOptions& options) {
  std::uint64_t limit = UINT64_MAX;
  if (options.frames) limit = *options.frames;
  if (options.seconds) {
    limit = std::min(limit, std::uint64_t{*options.seconds} *
                                static_cast<std::uint64_t>(options.stream.frameRate));
  }
  return limit;
}

}  // namespace

std::unique_ptr<presenter::IScreenSource> MakeSource(const PresentOptions& options) {
  switch (options.source) {
    case SourceKind::kPng:
      return std::make_unique<presenter::CPngSource>(options.pngFiles, options.stream.frameRate);
    case SourceKind::kX11: {
      const char* display = options.x11Display.empty() ? nullptr : options.x11Display.c_str();
      if (!kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kX11, display)) {
        const std::string text = "cannot reach the X display " +
                                 (display ? options.x11Display : std::string("named by DISPLAY"));
        throw exc_screen_source(u"PresentRun.cpp", __LINE__, Widen(text.c_str()).c_str(), 0);
      }
      return std::make_unique<presenter::CScreenCaptureSource>();
    }
    case SourceKind::kSynthetic:
      break;
  }
  return std::make_unique<presenter::CSyntheticSource>(options.width, options.height);
}

int RunPresenter(const PresentOptions& options, const std::atomic<bool>& stop, std::FILE* summary,
                 std::FILE* errors) {
  std::unique_ptr<presenter::IScreenSource> source;
  std::unique_ptr<presenter::CScreenStreamer> streamer;
  std::unique_ptr<presenter::CScreenSender> sender;
  std::unique_ptr<presenter::CRemoteInputListener> remote;
  try {
    source = MakeSource(options);
    streamer = std::make_unique<presenter::CScreenStreamer>(options.stream);
    sender = std::make_unique<presenter::CScreenSender>(options.sender);
    if (options.remotePort) {
      // Input is replayed only into a display that this program shows: the live X source's.
      remote = std::make_unique<presenter::CRemoteInputListener>(
          options.sender.multicastInterface, *options.remotePort,
          options.source == SourceKind::kX11, summary);
      std::fprintf(summary, "kwz-present: taking remote-control records on %s:%u\n",
                   options.sender.multicastInterface.c_str(), unsigned{remote->Port()});
      std::fflush(summary);
    }
  } catch (const base_exception& e) {
    std::fprintf(errors, "kwz-present: %s\n", Narrow(e.message()).c_str());
    return 1;
  }

  presenter::CFramePacer pacer(options.stream.frameRate);
  const std::uint64_t limit = FrameLimit(options);
  std::uint64_t frame = 0;
  presenter::ScreenFrame captured;
  std::uint64_t encoderSkips = 0;
  bool anySent = false;
  bool warned = false;
  while (!stop.load(std::memory_order_relaxed) && frame < limit) {
    // Slots the loop missed are counted as skipped frames, and the source moves on past them.
    for (std::uint32_t missed = pacer.WaitForNextFrame(); missed != 0 && frame + 1 < limit;
         --missed) {
      sender->CountFrame(true);
      ++frame;
    }
    const std::uint32_t timestamp = static_cast<std::uint32_t>(
        frame * kRtpClockHz / static_cast<std::uint64_t>(options.stream.frameRate));
    bool sent = false;
    if (source->Capture(static_cast<std::uint32_t>(frame), &captured)) {
      const presenter::FrameOutcome outcome =
          streamer->AddFrame(captured, [&](const std::uint8_t* message, std::size_t length) {
            sender->Send(message, length, timestamp);
          });
      sent = outcome.accepted && !outcome.skipped;
      if (outcome.skipped) ++encoderSkips;
    }
    sender->CountFrame(!sent);
    ++frame;
    anySent = anySent || sent;
    // Slots missed while the encoder struggled count too: nothing went out for them either.
    if (!anySent && !warned && encoderSkips > 0 && frame >= kUnsentBeforeWarning) {
      std::fprintf(errors,
                   "kwz-present: none of the first %" PRIu64
                   " frames was sent: the encoder cannot fit a %dx%d screen into one message in "
                   "this mode; try a smaller --size or another --mode\n",
                   frame, captured.screen.width, captured.screen.height);
      std::fflush(errors);
      warned = true;
    }
  }

  if (remote) {
    remote->Stop();
    const presenter::RemoteInputCounters r = remote->Counters();
    std::fprintf(summary,
                 "kwz-present: remote control: %" PRIu64 " records, %" PRIu64 " dropped, %" PRIu64
                 " input events replayed\n",
                 r.records, r.dropped, r.replayed);
  }
  const presenter::SenderCounters c = sender->Counters();
  const std::uint32_t elapsed = pacer.ElapsedMs();
  std::fprintf(summary,
               "kwz-present: %" PRIu64 " frames (%" PRIu64 " skipped), %" PRIu64
               " messages, %" PRIu64 " datagrams, %" PRIu64 " bytes, %" PRIu64
               " send errors in %u.%03u s\n",
               c.frames, c.skippedFrames, c.messages, c.datagrams, c.bytes, c.sendErrors,
               elapsed / 1000, elapsed % 1000);
  return 0;
}

}  // namespace kwz_present
