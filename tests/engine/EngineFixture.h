// Helpers of the engine's tests: message headers and bodies as the engine hands them to the
// drawing surface, windows of the headless GDI backend read back pixel by pixel, a record of the
// size reports, a presenter stand-in that sends screen messages as RTP over loopback UDP, a count
// of the paints that reach a window, a virtual clock, a free port to open on, a bounded wait for
// a condition, pictures cut into the zlib blocks of stream mode 1 at 32 bits, and an engine set
// up on a free loopback port, painting into a headless window, with a sender aimed at it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/CBMPManager.h"
#include "engine/CScreenSharing.h"
#include "engine/IScreenSharing.h"
#include "platform/gdi_testing.h"
#include "platform/widestring.h"
#include "platform/wingdi.h"
#include "platform/winsock.h"
#include "platform/winuser.h"
#include "presenter/RtpPacketizer.h"
#include "presenter/ScreenMessageWriter.h"
#include "tests/network/NetworkTestSupport.h"
#include "tests/support/WaitUntil.h"

namespace kwz_test {

// A header as the engine passes it: biCompression already replaced by the bytes per pixel.
inline BITMAPINFOHEADER MessageHeader(LONG width, LONG height, int bytesPerPixel) {
  BITMAPINFOHEADER h{};
  h.biWidth = width;
  h.biHeight = height;
  h.biBitCount = static_cast<WORD>(bytesPerPixel * 8);
  h.biCompression = static_cast<DWORD>(bytesPerPixel);
  h.biSizeImage = static_cast<DWORD>((h.biBitCount * static_cast<std::uint64_t>(width) + 31) / 32 *
                                     4 * static_cast<std::uint64_t>(height));
  return h;
}

inline std::vector<std::uint8_t> Zlib(const std::vector<std::uint8_t>& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> out(size);
  EXPECT_EQ(compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 6), Z_OK);
  out.resize(size);
  return out;
}

// Decodes one block message of the given mode.
inline std::int32_t SendBlock(CBMPManager& surface, std::uint32_t mode,
                              const BITMAPINFOHEADER& header, std::uint32_t index,
                              const std::vector<std::uint8_t>& body) {
  surface.SetStreamMode(mode);
  return surface.DecodeMessage(header, index, body.empty() ? nullptr : body.data(),
                               static_cast<std::uint32_t>(body.size()));
}

// Bytes of memory row `row` of the surface's bitmap, from byte `offset` on.
inline const std::uint8_t* Row(const CBMPManager& surface, std::uint32_t row,
                               std::uint32_t offset = 0) {
  return surface.Pixels() + static_cast<std::size_t>(row) * surface.Stride() + offset;
}

// Copies the bitmap, to compare before and after a message.
inline std::vector<std::uint8_t> Snapshot(const CBMPManager& surface) {
  if (surface.Pixels() == nullptr) return {};
  return std::vector<std::uint8_t>(surface.Pixels(), surface.Pixels() + surface.PixelsSize());
}

inline void UseHeadlessGdi() {
  ASSERT_TRUE(kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless));
}

class TestWindow {
 public:
  TestWindow(int width, int height)
      : m_window(CreateWindowExW(0, u"STATIC", u"surface", WS_POPUP | WS_VISIBLE, 0, 0, width,
                                 height, nullptr, nullptr, nullptr, nullptr)) {}
  ~TestWindow() {
    if (m_window != nullptr) DestroyWindow(m_window);
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;
  HWND Get() const { return m_window; }

  // What the window shows, top row first, 0xFFRRGGBB.
  std::vector<std::uint32_t> Pixels() const {
    std::vector<std::uint32_t> pixels;
    int width = 0, height = 0;
    EXPECT_TRUE(kwz_platform::ReadWindowPixels(m_window, &pixels, &width, &height));
    return pixels;
  }

 private:
  HWND m_window;
};

// Records every size reported; the engine calls it from its own thread.
class SizeLog : public IScreenSharing {
 public:
  void OnScreenSizeChanged(std::uint32_t width, std::uint32_t height) override {
    std::lock_guard<std::mutex> guard(lock_);
    sizes_.emplace_back(width, height);
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> Sizes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return sizes_;
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes_;
};

using Bytes = std::vector<std::uint8_t>;
using SteadyClock = std::chrono::steady_clock;

// Whether a socket without SO_REUSEADDR can bind address:port (0: any), i.e. whether nothing
// holds it; *bound, if given, gets the port it had.
inline bool CanBind(const char* address, USHORT port, USHORT* bound = nullptr) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = inet_addr(address);
  const bool ok = bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
  if (ok && bound != nullptr) *bound = BoundPort(s);
  closesocket(s);
  WSACleanup();
  return ok;
}

// An even UDP port that nothing on 127.0.0.1 holds right now (the endpoint refuses odd ones).
inline USHORT FreeEvenPort() {
  for (int attempt = 0; attempt < 64; ++attempt) {
    USHORT port = 0;
    if (CanBind("127.0.0.1", 0, &port) && port % 2 == 0) return port;
  }
  return 0;
}

// The presenter's side of the tests: screen messages cut into RTP datagrams and sent to one
// address (unicast or a group, multicast on loopback with TTL 0).
class ScreenSender {
 public:
  ScreenSender(const char* address, USHORT port, std::uint16_t firstSequence = 1)
      : address_(address), port_(port), packetizer_([firstSequence] {
          presenter::RtpPacketizer::Options options;
          options.firstSequence = firstSequence;
          return options;
        }()) {}

  // Cuts the message into datagrams without sending them.
  std::vector<Bytes> Datagrams(const presenter::ScreenMessageFields& fields, const Bytes& body) {
    Bytes message;
    presenter::WriteScreenMessage(fields, body.data(), body.size(), &message);
    std::vector<Bytes> out;
    packetizer_.Packetize(
        message.data(), message.size(), timestamp_,
        [&](const std::uint8_t* d, std::size_t n) { out.emplace_back(d, d + n); });
    timestamp_ += 2;  // bit 0 marks the datagrams after the first
    return out;
  }
  void SendDatagram(const Bytes& datagram) {
    ASSERT_EQ(socket_.Send(address_, port_, reinterpret_cast<const char*>(datagram.data()),
                           static_cast<int>(datagram.size())),
              static_cast<int>(datagram.size()));
  }
  void Send(const presenter::ScreenMessageFields& fields, const Bytes& body) {
    for (const Bytes& d : Datagrams(fields, body)) SendDatagram(d);
  }

 private:
  const char* address_;
  USHORT port_;
  LoopbackSender socket_;
  presenter::RtpPacketizer packetizer_;
  std::uint32_t timestamp_ = 1000;
};

// How many Draws the engine made into one window: those that painted something and those that
// released the DC without painting. The record is shared with the installed observer, so a
// paint that is being reported while the log goes stays harmless.
class PaintLog {
 public:
  explicit PaintLog(HWND window) : counts_(std::make_shared<Counts>()) {
    kwz_platform::SetPaintObserverForTesting([counts = counts_, window](HWND w, bool painted) {
      if (w == window) ++(*counts)[painted ? 0 : 1];
    });
  }
  ~PaintLog() { kwz_platform::SetPaintObserverForTesting(nullptr); }
  PaintLog(const PaintLog&) = delete;
  PaintLog& operator=(const PaintLog&) = delete;

  std::size_t PaintCount() const { return (*counts_)[0]; }
  std::size_t DrawCount() const { return (*counts_)[0] + (*counts_)[1]; }

 private:
  using Counts = std::array<std::atomic<std::size_t>, 2>;  // painted, released unpainted
  std::shared_ptr<Counts> counts_;
};

struct VirtualClockState {
  std::mutex lock;
  std::condition_variable read;
  DWORD now = 1000000;
  std::uint64_t reads = 0;
  pid_t reader = 0;
};

// The engine's clock in the timing tests: it moves only when a test says so, and counts the
// engine's passes, each of which reads it once.
class VirtualClock {
 public:
  static DWORD Now() {
    std::lock_guard<std::mutex> guard(state_.lock);
    state_.reader = gettid();
    ++state_.reads;
    state_.read.notify_all();
    return state_.now;
  }
  static void Advance(DWORD ms) {
    std::lock_guard<std::mutex> guard(state_.lock);
    state_.now += ms;
  }
  static std::uint64_t Reads() {
    std::lock_guard<std::mutex> guard(state_.lock);
    return state_.reads;
  }
  // Waits until the clock was read `target` times in all; the draw of a pass is done once the
  // next one reads.
  static bool WaitForReads(std::uint64_t target) {
    std::unique_lock<std::mutex> lock(state_.lock);
    return state_.read.wait_for(lock, std::chrono::seconds(10),
                                [&] { return state_.reads >= target; });
  }
  static bool WaitForPasses(unsigned passes) { return WaitForReads(Reads() + passes); }
  // Waits until the thread that last read the clock sleeps, as it does in its wait for a
  // datagram; false after 10 s.
  static bool WaitUntilReaderSleeps() {
    const pid_t reader = [] {
      std::lock_guard<std::mutex> guard(state_.lock);
      return state_.reader;
    }();
    return WaitUntil([&] {
      std::ifstream stat("/proc/self/task/" + std::to_string(reader) + "/stat");
      std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
      const std::size_t end = text.rfind(')');
      return end != std::string::npos && end + 2 < text.size() && text[end + 2] == 'S';
    });
  }

 private:
  inline static VirtualClockState state_;
};

// The received count of an engine's "lost/received" report; 0 for anything else.
inline unsigned Received(const std::u16string& report) {
  unsigned lost = 0, received = 0;
  return std::sscanf(Narrow(report.c_str()).c_str(), "%u/%u", &lost, &received) == 2 ? received : 0;
}

constexpr std::uint16_t kBlock = 100;

// A picture of width x height, 0xFFRRGGBB, top row first, from a seeded generator.
inline std::vector<std::uint32_t> Picture(int width, int height, std::uint32_t seed) {
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
  std::uint32_t x = seed * 2654435761u + 7;
  for (auto& p : pixels) {
    x = x * 1664525u + 1013904223u;
    p = 0xFF000000u | (x >> 8);
  }
  return pixels;
}

// The zlib body of each block of a picture whose sides are multiples of the block size, in
// block-index order. Grid row 0 is the bottom of the bottom-up bitmap, and a block's rows run
// upwards too; a 32-bit pixel is stored B, G, R, 0.
inline std::vector<Bytes> ZlibBlocks(const std::vector<std::uint32_t>& picture, int width,
                                     int height) {
  const int columns = width / kBlock;
  std::vector<Bytes> bodies;
  for (int index = 0; index < columns * (height / kBlock); ++index) {
    Bytes raw;
    for (int k = 0; k < kBlock * kBlock; ++k) {
      const int y = height - 1 - (index / columns * kBlock + k / kBlock);
      const std::uint32_t p =
          picture[static_cast<std::size_t>(y) * width + index % columns * kBlock + k % kBlock];
      raw.insert(raw.end(), {static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(p >> 8),
                             static_cast<std::uint8_t>(p >> 16), 0});
    }
    bodies.push_back(Zlib(raw));
  }
  return bodies;
}

// A geometry-only message (stream mode 0): it sets the screen's size and paints nothing.
inline presenter::ScreenMessageFields Geometry(std::uint16_t width, std::uint16_t height) {
  presenter::ScreenMessageFields fields;
  fields.streamMode = 0;
  fields.bytesPerPixel = 4;
  fields.width = width;
  fields.height = height;
  return fields;
}

// A zlib block at 32 bits, with the cursor, if any.
inline presenter::ScreenMessageFields BlockFields(std::uint16_t width, std::uint16_t height,
                                                  std::uint16_t index,
                                                  std::uint16_t cursorX = presenter::kNoCursor,
                                                  std::uint16_t cursorY = presenter::kNoCursor) {
  presenter::ScreenMessageFields fields = Geometry(width, height);
  fields.streamMode = 1;
  fields.blockIndex = index;
  fields.cursorX = cursorX;
  fields.cursorY = cursorY;
  return fields;
}

// Whether the engine's screen rectangle is {0, 0, width, height}.
inline bool ShowsRect(const CScreenSharing& engine, LONG width, LONG height) {
  RECT r{-1, -1, -1, -1};
  engine.GetScreenRect(&r);
  return r.left == 0 && r.top == 0 && r.right == width && r.bottom == height;
}

// The engine as the control sets it up, but on 127.0.0.1 and a free even port.
class EngineOnLoopback : public ::testing::Test {
 protected:
  static constexpr int kWidth = 300;
  static constexpr int kHeight = 200;

  void SetUp() override {
    UseHeadlessGdi();
    kwz_platform::SetHeadlessDisplays({SIZE{1920, 1080}});
    port_ = FreeEvenPort();
    ASSERT_NE(port_, 0);
    window_ = std::make_unique<TestWindow>(kWidth, kHeight);
    engine_ = std::make_unique<CScreenSharing>();
    engine_->m_dwPort = port_;
    engine_->SetLocalAddress("127.0.0.1");
    engine_->SetWindow(window_->Get());
    sender_ = std::make_unique<ScreenSender>("127.0.0.1", port_);
  }
  void TearDown() override {
    engine_.reset();  // stops the thread before the window goes
    window_.reset();
  }

  USHORT port_ = 0;
  std::unique_ptr<TestWindow> window_;
  std::unique_ptr<CScreenSharing> engine_;
  std::unique_ptr<ScreenSender> sender_;
};

}  // namespace kwz_test
