// The whole receiving side at 1920 x 1080, at 3840 x 2160 for blocks and, for H.264 and VP9, at
// the largest screen whose frames the presenter fits into a message body: synthetic desktop frames
// coded by the presenter's streamer, sent over loopback in its datagrams (screens of blocks 10 a
// second, video 30) into a CScreenSharing that receives, decodes and paints into a headless
// window, or with --x11 into a window of a private Xvfb. For each mode it reports
//   - the receiver's CPU time per frame (process CPU minus the sending thread's), and on X11 the
//     server's CPU time per frame beside it,
//   - the latency from the last datagram of a frame leaving the sender to the end of the first
//     paint after it (median and 99th percentile; paints timed by the paint observer), and on X11
//     the median time a paint waits for the server to composite the bitmap,
// next to the bare decode (and conversion to the bitmap's pixels) of the same messages in the
// same run, at the same pace: zlib uncompress per block (and for 8-bit blocks the palette lookup
// into 32-bit pixels), or the codec library's decode and libyuv's conversion.
// In the block modes every frame is a whole screen of blocks.
// Run build/<variant>/bench/pipeline_bench [--json] [--x11] [--perf-control CTL,ACK] [seconds per
// mode, default 3] [one mode name]; --json adds one JSON line per mode on stdout (the table then
// goes to stderr). --perf-control names the control and acknowledgement FIFOs of a `perf record -D
// -1
// --control fifo:CTL,ACK` around this process: profiling is enabled for exactly the windows in
// which the receiver's CPU is measured (bench/attribute.py reads the profile).
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/BareDecode.h"
#include "bench/LoopbackUdp.h"
#include "bench/PaintTiming.h"
#include "engine/CScreenSharing.h"
#include "platform/gdi_testing.h"
#include "platform/winsock.h"
#include "platform/winuser.h"
#include "presenter/CScreenStreamer.h"
#include "presenter/RtpPacketizer.h"
#include "presenter/SyntheticDesktop.h"
#include "tests/support/XvfbServer.h"

namespace {

using Clock = std::chrono::steady_clock;
using Message = std::vector<std::uint8_t>;

// Blocks come at the rate a screen of them is rebuilt; video at a video rate, which also gives
// its latency enough frames for a 99th percentile.
constexpr int kBlockFrameRate = 10;
constexpr int kVideoFrameRate = 30;
// The first frame (every block, or a key frame) also makes the receiver allocate and fill its
// bitmap and buffers, once per stream; it is sent and decoded untimed on both sides so the
// figures are the steady state.
constexpr std::size_t kWarmUpFrames = 1;

double ProcessCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Switches an outside profiler on and off at the edges of the measured window, and waits for
// its acknowledgement so that no sample of the untimed work slips in.
class ProfilerGate {
 public:
  ProfilerGate() = default;
  ProfilerGate(const ProfilerGate&) = delete;
  ProfilerGate& operator=(const ProfilerGate&) = delete;
  ~ProfilerGate() {
    if (control_ != nullptr) std::fclose(control_);
    if (ack_ != nullptr) std::fclose(ack_);
  }

  // "CTL,ACK": FIFOs that perf opened; false when they cannot be opened.
  bool Open(const std::string& fifos) {
    const std::size_t comma = fifos.find(',');
    if (comma == std::string::npos) return false;
    control_ = std::fopen(fifos.substr(0, comma).c_str(), "w");
    ack_ = std::fopen(fifos.substr(comma + 1).c_str(), "r");
    return control_ != nullptr && ack_ != nullptr;
  }
  void Enable() { Send("enable"); }
  void Disable() { Send("disable"); }

 private:
  void Send(const char* command) {
    if (control_ == nullptr || ack_ == nullptr) return;
    std::fprintf(control_, "%s\n", command);
    std::fflush(control_);
    char reply[16];
    if (std::fgets(reply, sizeof reply, ack_) == nullptr) {
      std::fprintf(stderr, "the profiler did not acknowledge \"%s\"\n", command);
    }
  }

  std::FILE* control_ = nullptr;
  std::FILE* ack_ = nullptr;
};

ProfilerGate g_profiler;

// The X server's CPU time, user and system, from /proc; 0 without a server.
pid_t g_serverPid = -1;
double ServerCpuMs() {
  if (g_serverPid <= 0) return 0;
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(g_serverPid));
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return 0;
  char line[1024] = {};
  const bool read = std::fgets(line, sizeof line, file) != nullptr;
  std::fclose(file);
  // The fields after the command's closing parenthesis, which may itself hold spaces.
  const char* rest = read ? std::strrchr(line, ')') : nullptr;
  unsigned long long user = 0, system = 0;
  if (rest == nullptr ||
      std::sscanf(rest + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &user,
                  &system) != 2) {
    return 0;
  }
  return static_cast<double>(user + system) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t at =
      std::min(values.size() - 1, static_cast<std::size_t>(fraction * (values.size() - 1) + 0.5));
  return values[at];
}

struct ModeCase {
  const char* name;
  int mode;
  int bytesPerPixel;
  int width = 1920;
  int height = 1080;
  // Video: the size is the largest of kLargeSizes at which the presenter fits every frame into
  // a message body (found on the first frames).
  bool largest = false;
};

// 16:9 screens from 4K down, each side a multiple of 16 or padded to one.
constexpr struct {
  int width, height;
} kLargeSizes[] = {{3840, 2160}, {3200, 1800}, {2880, 1620},
                   {2560, 1440}, {2240, 1260}, {1920, 1080}};
constexpr int kSizeProbeFrames = 3;
// Below about 35 dB the synthetic desktop's text stripes run into each other.
constexpr double kUsablePsnr = 35;

bool BlockMode(const ModeCase& c) {
  return c.mode == 1 || c.mode == 2;
}

int FrameRate(const ModeCase& c) {
  return BlockMode(c) ? kBlockFrameRate : kVideoFrameRate;
}

std::chrono::microseconds FrameInterval(const ModeCase& c) {
  return std::chrono::microseconds(1000000 / FrameRate(c));
}

// The messages of each frame, coded before anything is timed. In the block modes every frame is
// a whole screen of blocks (a fresh streamer sends every block), so the rate of block rebuilds
// is measured on a full 1080p screen each time.
std::vector<std::vector<Message>> CodeFrames(const ModeCase& c, int frames) {
  presenter::ScreenStreamSettings settings;
  settings.streamMode = c.mode;
  settings.bytesPerPixel = c.bytesPerPixel;
  settings.frameRate = FrameRate(c);
  auto streamer = std::make_unique<presenter::CScreenStreamer>(settings);
  const SyntheticDesktop desktop(c.width, c.height);
  std::vector<std::vector<Message>> out;
  for (int n = 0; n < frames; ++n) {
    if (BlockMode(c) && n > 0) streamer = std::make_unique<presenter::CScreenStreamer>(settings);
    const std::vector<std::uint8_t> screen = desktop.Render(static_cast<std::uint32_t>(n));
    presenter::ScreenFrame frame;
    frame.screen = presenter::BgraView{screen.data(), c.width, c.height, c.width * 4};
    std::vector<Message> messages;
    streamer->AddFrame(frame, [&](const std::uint8_t* m, std::size_t length) {
      messages.emplace_back(m, m + length);
    });
    out.push_back(std::move(messages));
  }
  return out;
}

// Peak signal to noise ratio of the colour channels of a decoded picture against the screen it
// was coded from, in dB. At 32 bits the presenter codes the screen bottom row first, so that the
// decoder's picture is a bottom-up DIB, with padding rows (if any) at its start.
double Psnr(const std::uint8_t* picture, int paddedWidth, int paddedHeight,
            const std::vector<std::uint8_t>& screen, int width, int height) {
  double squares = 0;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* p =
        picture + static_cast<std::ptrdiff_t>(paddedHeight - 1 - y) * paddedWidth * 4;
    const std::uint8_t* q = screen.data() + static_cast<std::ptrdiff_t>(y) * width * 4;
    for (int i = 0; i < width * 4; ++i) {
      if (i % 4 == 3) continue;
      const double d = static_cast<double>(p[i]) - q[i];
      squares += d * d;
    }
  }
  const double mean = squares / (3.0 * width * height);
  return mean == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mean);
}

// How faithful the video modes are at the size chosen: the picture of a decoder that took every
// frame against the screen the presenter was given for the last coded one; 0 when none was coded.
double LastPictureFidelity(const ModeCase& c, const kwz_bench::BareDecode& bare,
                           const std::vector<std::vector<Message>>& frames) {
  const auto coded = std::find_if(frames.rbegin(), frames.rend(),
                                  [](const std::vector<Message>& f) { return !f.empty(); });
  if (coded == frames.rend()) return 0;
  const std::vector<std::uint8_t> screen =
      SyntheticDesktop(c.width, c.height)
          .Render(static_cast<std::uint32_t>(frames.rend() - coded - 1));
  return Psnr(bare.Picture(), (c.width + 15) / 16 * 16, (c.height + 15) / 16 * 16, screen, c.width,
              c.height);
}

struct BareFigures {
  double cpuMsPerFrame = 0;  // process CPU: decoders that run threads of their own count too
  double medianMs = 0;       // wall time of one frame's messages
  double p99Ms = 0;
  std::size_t failures = 0;  // bodies the library refused
  double psnr = 0;           // video, unpaced: the last coded frame's fidelity, dB
};

// Decodes every frame's bodies as bare library calls into 32-bit pixels. Paced, one frame per
// frame interval as the receiver gets them: between frames the caches go to other work, and a
// decoder that finds its reference pictures cold costs up to twice what it costs in a loop
// (measured), so only a paced baseline compares with the receiver.
BareFigures BareDecode(const ModeCase& c, const std::vector<std::vector<Message>>& frames,
                       bool paced) {
  kwz_bench::BareDecode bare(c.mode, (c.width + 15) / 16 * 16, (c.height + 15) / 16 * 16,
                             c.bytesPerPixel);
  BareFigures figures;
  std::vector<double> walls;
  double start = 0;
  auto due = Clock::now();
  for (std::size_t n = 0; n < frames.size(); ++n) {
    if (paced) {
      std::this_thread::sleep_until(due);
      due += FrameInterval(c);
    }
    if (n == kWarmUpFrames) start = ProcessCpuMs();
    const auto began = Clock::now();
    for (const Message& m : frames[n]) {
      if (!bare.Body(m.data() + presenter::kScreenHeaderSize,
                     m.size() - presenter::kScreenHeaderSize)) {
        ++figures.failures;
      }
    }
    if (n >= kWarmUpFrames)
      walls.push_back(std::chrono::duration<double, std::milli>(Clock::now() - began).count());
  }
  figures.cpuMsPerFrame =
      (ProcessCpuMs() - start) / static_cast<double>(frames.size() - kWarmUpFrames);
  figures.medianMs = Percentile(walls, 0.5);
  figures.p99Ms = Percentile(walls, 0.99);
  if (!paced && !BlockMode(c)) figures.psnr = LastPictureFidelity(c, bare, frames);
  return figures;
}

bool EveryFrameCoded(const std::vector<std::vector<Message>>& frames) {
  return std::none_of(frames.begin(), frames.end(),
                      [](const std::vector<Message>& f) { return f.empty(); });
}

// The case at the largest size whose first frames all fit at a usable quality, or at the
// smallest size tried. The encoders fit a key frame that is too large by coding it coarser, so
// fitting alone would pick a size whose text is a blur.
ModeCase LargestFittingSize(ModeCase c) {
  for (const auto& size : kLargeSizes) {
    c.width = size.width;
    c.height = size.height;
    const auto frames = CodeFrames(c, kSizeProbeFrames);
    const double psnr = EveryFrameCoded(frames) ? BareDecode(c, frames, false).psnr : 0;
    if (psnr >= kUsablePsnr) break;
  }
  return c;
}

struct PipelineFigures {
  double cpuMsPerFrame = 0;
  double serverCpuMsPerFrame = 0;
  double medianLatencyMs = 0;
  double p99LatencyMs = 0;
  double medianCompositeWaitMs = 0;
  // The latency less the paint's wait for the server's composite.
  double medianOwnLatencyMs = 0;
  double p99OwnLatencyMs = 0;
  std::size_t paintedFrames = 0;
  double paintsPerFrame = 0;
  std::u16string loss;
};

PipelineFigures RunPipeline(const ModeCase& c, const std::vector<std::vector<Message>>& frames,
                            USHORT port) {
  HWND window = CreateWindowExW(0, u"STATIC", u"pipeline", WS_POPUP | WS_VISIBLE, 0, 0, c.width,
                                c.height, nullptr, nullptr, nullptr, nullptr);
  std::mutex lock;
  std::vector<Clock::time_point> paints;
  // How long each paint waited for the X server's composite (on the painting thread, which the
  // observer runs on).
  std::vector<double> compositeWaits;
  double waitedBefore = 0;
  kwz_platform::SetPaintObserverForTesting([&](HWND w, bool painted) {
    if (w != window || !painted) return;
    const auto now = Clock::now();
    const double waited = kwz_platform::CompositeWaitMsForTesting();
    std::lock_guard<std::mutex> guard(lock);
    paints.push_back(now);
    compositeWaits.push_back(waited - waitedBefore);
    waitedBefore = waited;
  });

  PipelineFigures figures;
  {
    CScreenSharing engine;
    engine.m_dwPort = port;
    engine.SetLocalAddress("127.0.0.1");
    engine.SetWindow(window);
    // The frame's send time is taken just before its last datagram goes out: once it is queued the
    // receiver may wake and take this thread's core, and a clock read after the send would then
    // leave the receiver's decode out of the latency.
    kwz_bench::LoopbackUdp socket(1 << 20);
    presenter::RtpPacketizer packetizer(presenter::RtpPacketizer::Options{});
    Clock::time_point datagramSent;
    const auto send = [&](const std::uint8_t* datagram, std::size_t length) {
      datagramSent = Clock::now();
      socket.SendTo(port, datagram, length);
    };
    if (engine.Setup() != S_OK || !engine.Start()) {
      std::fprintf(stderr, "%s: the engine does not start\n", c.name);
    }
    std::vector<Clock::time_point> lastSent;
    double cpuStart = 0, senderStart = 0, serverStart = 0;
    auto due = Clock::now();
    for (std::size_t n = 0; n < frames.size(); ++n) {
      std::this_thread::sleep_until(due);
      if (n == kWarmUpFrames) {
        // The warm-up frame is painted, and its allocations done, before the clocks start.
        const auto limit = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < limit) {
          {
            std::lock_guard<std::mutex> guard(lock);
            if (!paints.empty()) break;
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        due = Clock::now();
        g_profiler.Enable();
        cpuStart = ProcessCpuMs();
        senderStart = kwz_bench::ThreadCpuMs();
        serverStart = ServerCpuMs();
      }
      due += FrameInterval(c);
      const std::uint32_t timestamp = static_cast<std::uint32_t>(n * 90000 / FrameRate(c));
      for (const Message& m : frames[n]) packetizer.Packetize(m.data(), m.size(), timestamp, send);
      if (n >= kWarmUpFrames) lastSent.push_back(datagramSent);
    }
    std::this_thread::sleep_until(due);  // the last frame's paint
    const double senderCpu = kwz_bench::ThreadCpuMs() - senderStart;
    figures.loss = engine.GetPacketLossReport();
    engine.Stop();
    const double processCpu = ProcessCpuMs() - cpuStart;
    const double serverCpu = ServerCpuMs() - serverStart;
    g_profiler.Disable();
    const auto timed = static_cast<double>(frames.size() - kWarmUpFrames);
    figures.cpuMsPerFrame = (processCpu - senderCpu) / timed;
    figures.serverCpuMsPerFrame = serverCpu / timed;

    std::lock_guard<std::mutex> guard(lock);
    std::vector<double> latencies, ownLatencies;
    for (std::size_t n = 0; n < lastSent.size(); ++n) {
      const auto painted = std::upper_bound(paints.begin(), paints.end(), lastSent[n]);
      if (painted == paints.end()) continue;
      // Not painted alone: the paint came after the next frame was (or would have been) sent.
      const auto next = n + 1 < lastSent.size() ? lastSent[n + 1] : lastSent[n] + FrameInterval(c);
      if (*painted > next) continue;
      const double latency =
          std::chrono::duration<double, std::milli>(*painted - lastSent[n]).count();
      latencies.push_back(latency);
      ownLatencies.push_back(latency - compositeWaits[painted - paints.begin()]);
    }
    figures.paintedFrames = latencies.size();
    figures.paintsPerFrame =
        static_cast<double>(paints.size()) / static_cast<double>(frames.size());
    figures.medianCompositeWaitMs = Percentile(compositeWaits, 0.5);
    figures.medianLatencyMs = Percentile(latencies, 0.5);
    figures.p99LatencyMs = Percentile(latencies, 0.99);
    figures.medianOwnLatencyMs = Percentile(ownLatencies, 0.5);
    figures.p99OwnLatencyMs = Percentile(ownLatencies, 0.99);
  }
  kwz_platform::SetPaintObserverForTesting(nullptr);
  DestroyWindow(window);
  return figures;
}

// An even loopback port that nothing holds now (the engine refuses odd ones).
USHORT FreeEvenPort() {
  USHORT port = 0;
  for (int attempt = 0; attempt < 64 && port == 0; ++attempt) {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = inet_addr("127.0.0.1");
    if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0) {
      sockaddr_in bound{};
      int length = sizeof bound;
      getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length);
      if (ntohs(bound.sin_port) % 2 == 0) port = ntohs(bound.sin_port);
    }
    closesocket(s);
  }
  return port;
}

double MessagesPerFrame(const std::vector<std::vector<Message>>& frames) {
  std::size_t messages = 0;
  for (std::size_t n = kWarmUpFrames; n < frames.size(); ++n) messages += frames[n].size();
  return static_cast<double>(messages) / static_cast<double>(frames.size() - kWarmUpFrames);
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  bool x11 = false;
  int seconds = 3;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--json") {
      json = true;
    } else if (arg == "--x11") {
      x11 = true;
    } else if (arg == "--perf-control" && i + 1 < argc) {
      if (!g_profiler.Open(argv[++i])) {
        std::fprintf(stderr, "--perf-control: cannot open the FIFOs \"%s\"\n", argv[i]);
        return 2;
      }
    } else if (!arg.empty() && arg[0] >= '0' && arg[0] <= '9') {
      seconds = std::max(1, std::atoi(arg.c_str()));
    } else {
      only = arg;
    }
  }
  // A screen as large as the largest window, so that every window is wholly shown.
  std::unique_ptr<kwz_test::XvfbServer> server;
  if (x11) {
    server = std::make_unique<kwz_test::XvfbServer>("3840x2160x24");
    if (!server->Running() || !kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kX11,
                                                              server->Display().c_str())) {
      std::fprintf(stderr, "--x11: no X server: %s\n", server->Error().c_str());
      return 1;
    }
    g_serverPid = server->Pid();
  } else {
    kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless);
  }
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  const ModeCase cases[] = {{"zlib32", 1, 4},
                            {"zlib8", 1, 1},
                            {"jpeg", 2, 4},
                            {"mpeg4", 3, 4},
                            {"h264", 4, 4},
                            {"vp8", 5, 4},
                            {"vp9", 6, 4},
                            // 4K screens of blocks: 39 x 22 blocks a frame.
                            {"zlib32-4k", 1, 4, 3840, 2160},
                            {"jpeg-4k", 2, 4, 3840, 2160},
                            {"h264-large", 4, 4, 0, 0, true},
                            {"vp9-large", 6, 4, 0, 0, true}};
  // The table goes to stderr when stdout carries the machine-readable lines.
  FILE* table = json ? stderr : stdout;
  std::fprintf(table,
               "1920 x 1080 unless named 4k (3840 x 2160) or large (the largest that fits), "
               "%d s per mode, blocks at %d fps and video at %d fps, painted %s\n",
               seconds, kBlockFrameRate, kVideoFrameRate, x11 ? "on X11 (Xvfb)" : "headless");
  // rx_cpu: receiver CPU per frame; srv_cpu: the X server's; bare_cpu / bare_med: CPU and median
  // wall time of the bare decode per frame, paced; bare_loop: its CPU per frame in a loop; lat:
  // last datagram sent to the end of the next paint; timed: frames whose next paint came before the
  // following frame was sent; paints: paints per frame. In ms.
  std::fprintf(table, "%-8s %7s %7s %8s %6s %9s %8s %8s %8s %8s %7s %6s %s\n", "mode", "rx_cpu",
               "srv_cpu", "bare_cpu", "cpu_x", "bare_loop", "bare_med", "lat_med", "lat_p99",
               "lat-bare", "timed", "paints", "lost/received");
  for (ModeCase c : cases) {
    if (!only.empty() && only != c.name) continue;
    if (c.largest) c = LargestFittingSize(c);
    const int frames = seconds * FrameRate(c);
    const auto coded = CodeFrames(c, frames);
    if (MessagesPerFrame(coded) == 0) {
      // The presenter's encoder may find no frame of this content that fits a message body.
      std::fprintf(table, "%-8s the presenter coded no frame\n", c.name);
      continue;
    }
    const BareFigures hot = BareDecode(c, coded, false);
    if (c.largest) {
      std::fprintf(table, "%s: %d x %d, decoded at %.1f dB PSNR\n", c.name, c.width, c.height,
                   hot.psnr);
    }
    const BareFigures bare = BareDecode(c, coded, true);
    const PipelineFigures f = RunPipeline(c, coded, FreeEvenPort());
    std::string loss;
    for (char16_t ch : f.loss)
      loss += ch >= 0x20 && ch < 0x7F && ch != '"' && ch != '\\' ? char(ch) : '?';
    const std::size_t timedFrames = static_cast<std::size_t>(frames) - kWarmUpFrames;
    std::fprintf(
        table, "%-8s %7.2f %7.2f %8.2f %6.2f %9.2f %8.2f %8.2f %8.2f %8.2f %3zu/%-3zu %6.2f %s\n",
        c.name, f.cpuMsPerFrame, f.serverCpuMsPerFrame, bare.cpuMsPerFrame,
        bare.cpuMsPerFrame > 0 ? f.cpuMsPerFrame / bare.cpuMsPerFrame : 0, hot.cpuMsPerFrame,
        bare.medianMs, f.medianLatencyMs, f.p99LatencyMs, f.medianLatencyMs - bare.medianMs,
        f.paintedFrames, timedFrames, f.paintsPerFrame, loss.c_str());
    if (bare.failures != 0) {
      std::fprintf(table, "%-8s the bare decode refused %zu bodies\n", c.name, bare.failures);
    }
    if (json) {
      std::printf(
          "{\"mode\":\"%s\",\"rx_cpu_ms\":%.4f,\"bare_cpu_ms\":%.4f,\"bare_loop_cpu_ms\":%.4f,"
          "\"bare_median_ms\":%.4f,\"bare_p99_ms\":%.4f,"
          "\"latency_median_ms\":%.4f,\"latency_p99_ms\":%.4f,\"blocks_per_frame\":%.2f,"
          "\"block_mode\":%s,\"timed_frames\":%zu,\"frames\":%zu,\"bare_failures\":%zu,"
          "\"loss\":\"%s\",\"width\":%d,\"height\":%d,\"psnr_db\":%.2f,"
          "\"backend\":\"%s\",\"server_cpu_ms\":%.4f,\"composite_wait_ms\":%.4f,"
          "\"own_latency_median_ms\":%.4f,\"own_latency_p99_ms\":%.4f,\"pid\":%d}\n",
          c.name, f.cpuMsPerFrame, bare.cpuMsPerFrame, hot.cpuMsPerFrame, bare.medianMs, bare.p99Ms,
          f.medianLatencyMs, f.p99LatencyMs, MessagesPerFrame(coded),
          BlockMode(c) ? "true" : "false", f.paintedFrames, timedFrames, bare.failures,
          loss.c_str(), c.width, c.height, hot.psnr, x11 ? "x11" : "headless",
          f.serverCpuMsPerFrame, f.medianCompositeWaitMs, f.medianOwnLatencyMs, f.p99OwnLatencyMs,
          static_cast<int>(getpid()));
      std::fflush(stdout);
    }
  }
  WSACleanup();
  return 0;
}
