// The engine over loopback: where Setup opens, what a failed or repeated Setup leaves, the body
// buffer's growth, the threads that call it at once (and the messages' cursor over the picture
// afterwards), a tunnel in place of its socket, when it paints, and its defaults; and, end to end,
// the presenter's library into it for every stream mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/CScreenSharing.h"
#include "network/ITunnel.h"
#include "platform/kernel.h"
#include "platform/widestring.h"
#include "presenter/CScreenSender.h"
#include "presenter/CScreenStreamer.h"
#include "presenter/IFrameEncoder.h"
#include "presenter/SyntheticDesktop.h"
#include "runtime/base_exception.h"
#include "tests/engine/EngineFixture.h"
#include "tests/engine/PrivateNetwork.h"
#include "tests/presenter/ViewerHarness.h"

namespace kwz_test {
namespace {

// Setup opens the given address only; a second Setup replaces the endpoint.
TEST_F(EngineOnLoopback, OpensTheGivenAddressOnlyAndASecondSetupReplacesIt) {
  ASSERT_EQ(engine_->Setup(), S_OK);
  EXPECT_FALSE(CanBind("127.0.0.1", port_));
  EXPECT_TRUE(CanBind("127.0.0.2", port_));  // bound to 127.0.0.1, not to every address
  const USHORT second = FreeEvenPort();
  ASSERT_NE(second, port_);
  engine_->m_dwPort = second;
  ASSERT_EQ(engine_->Setup(), S_OK);
  EXPECT_TRUE(CanBind("127.0.0.1", port_));  // the first endpoint is gone
  ASSERT_TRUE(engine_->Start());
  ScreenSender("127.0.0.1", second).Send(Geometry(320, 240), {});
  EXPECT_TRUE(WaitUntil([&] { return ShowsRect(*engine_, 320, 240); }));
}

// An endpoint that cannot open fails Setup, and Start still runs timed draws; an address that
// is missing or malformed raises and leaves a startable engine.
TEST_F(EngineOnLoopback, FailedOpenStillStartsAndBadAddressesRaise) {
  engine_->SetClock(&VirtualClock::Now);
  for (const auto& [port, address] :
       {std::pair<DWORD, const char*>{0, "192.0.2.1"}, {60005, "127.0.0.1"}}) {
    SCOPED_TRACE(address);
    engine_->m_dwPort = port;
    engine_->SetLocalAddress(address);
    EXPECT_EQ(engine_->Setup(), E_FAIL);
    PaintLog log(window_->Get());
    VirtualClock::Advance(101);  // past the interval of the last round's draws
    ASSERT_TRUE(engine_->Start());
    // A draw at the frame interval; nothing to show, so it releases its DC unpainted.
    EXPECT_TRUE(WaitUntil([&] { return log.DrawCount() == 1; }));
    EXPECT_EQ(log.PaintCount(), 0u);
    EXPECT_TRUE(engine_->Stop());
  }
  for (const char* address : {static_cast<const char*>(nullptr), "127.0.0.256", ""}) {
    engine_->SetLocalAddress(address);
    EXPECT_THROW(engine_->Setup(), exc_CNetwork) << (address ? address : "(null)");
    ASSERT_TRUE(engine_->Start());
    EXPECT_TRUE(engine_->Stop());
  }
}

// The body buffer grows to the announced image only within the packet limits; a small message
// behind each shows that it was dealt with.
TEST_F(EngineOnLoopback, BodyBufferGrowsToTheAnnouncedImageWithinThePacketLimits) {
  ASSERT_EQ(engine_->Setup(), S_OK);
  const struct {
    std::uint16_t width, height;
    DWORD capacity;
  } steps[] = {{200, 100, 180000}, {8192, 8192, 180000}, {1000, 1000, 4000000}};
  std::uint16_t marker = 100;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.width);
    ASSERT_TRUE(engine_->Start());
    sender_->Send(Geometry(step.width, step.height), {});
    sender_->Send(Geometry(++marker, 100), {});
    ASSERT_TRUE(WaitUntil([&] { return ShowsRect(*engine_, marker, 100); }));
    ASSERT_TRUE(engine_->Stop());
    EXPECT_EQ(engine_->BodyCapacity(), step.capacity);
  }
}

// The three threads of a running engine at once: the control's thread setting up, starting and
// stopping it, the remote-control thread reading the screen rectangle and the control reading
// the loss counters, and the engine's own thread receiving a stream that never pauses.
TEST_F(EngineOnLoopback, ControllerReadersAndTheEngineThreadRunTogether) {
  const auto picture = Picture(kWidth, kHeight, 9);
  constexpr int kX = 170, kY = 60;  // the cursor; unequal, so swapped coordinates show
  const std::vector<Bytes> blocks = ZlibBlocks(picture, kWidth, kHeight);
  ASSERT_EQ(engine_->Setup(), S_OK);

  std::atomic<int> badRects{0};
  std::atomic<int> badReports{0};
  std::atomic<unsigned> passesOfThePresenter{0};
  {
    std::jthread presenter([&](std::stop_token stop) {
      ScreenSender sender("127.0.0.1", port_);
      for (unsigned n = 0; !stop.stop_requested(); ++n) {
        const std::uint16_t index = static_cast<std::uint16_t>(n % blocks.size());
        sender.Send(BlockFields(kWidth, kHeight, index, kX, kY), blocks[index]);
        passesOfThePresenter.store(n);
        std::this_thread::yield();
      }
    });
    std::jthread reader([&](std::stop_token stop) {
      while (!stop.stop_requested()) {
        RECT r{};
        engine_->GetScreenRect(&r);
        const bool empty = r.right == 0 && r.bottom == 0;
        const bool screen = r.right == kWidth && r.bottom == kHeight;
        if (r.left != 0 || r.top != 0 || !(empty || screen)) badRects.fetch_add(1);
        const std::string report = Narrow(engine_->GetPacketLossReport().c_str());
        if (report.find('/') == std::string::npos) badReports.fetch_add(1);
      }
    });

    // The control's thread: new set-ups, starts and stops while the stream flows; each round
    // lasts until the presenter has sent another picture's worth of blocks.
    int failedCalls = 0;
    for (int round = 0; round < 8; ++round) {
      failedCalls += !engine_->Start();
      engine_->SetStretch(round % 2 == 0);
      engine_->SetWindow(round % 3 == 2 ? nullptr : window_->Get());
      const unsigned from = passesOfThePresenter.load();
      WaitUntil([&] { return passesOfThePresenter.load() >= from + blocks.size(); });
      if (round % 2 == 1) {
        failedCalls += engine_->Setup() != S_OK;  // stops the thread itself
      } else {
        failedCalls += !engine_->Stop();
      }
    }
    // After the churn the engine still follows the stream: the picture, and the icon of the
    // messages' cursor changing some pixels in its square and nothing outside it.
    engine_->SetStretch(false);
    engine_->SetWindow(window_->Get());
    failedCalls += !engine_->Start();
    const POINT hot = engine_->Surface()->CursorHotSpot();
    EXPECT_TRUE(WaitUntil([&] {
      const auto shown = window_->Pixels();
      bool changedInside = false;
      for (std::size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] == picture[i]) continue;
        const int x = static_cast<int>(i % kWidth) - (kX - hot.x);
        const int y = static_cast<int>(i / kWidth) - (kY - hot.y);
        if (x < 0 || x >= 32 || y < 0 || y >= 32) return false;
        changedInside = true;
      }
      return changedInside;
    }));
    EXPECT_EQ(failedCalls, 0);
  }  // the jthreads stop and join here
  EXPECT_TRUE(engine_->Stop());
  EXPECT_EQ(badRects.load(), 0);
  EXPECT_EQ(badReports.load(), 0);
}

// A datagram tunnel of the tests' own in place of the engine's socket.
class QueueTunnel final : public ITunnel {
 public:
  QueueTunnel() : event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~QueueTunnel() { CloseHandle(event_); }

  void Reserved0() override { ADD_FAILURE(); }
  int Receive(BYTE* buffer, int capacity, TunnelAddress*) override {
    std::lock_guard<std::mutex> guard(lock_);
    const int length = std::min(capacity, static_cast<int>(pending_.size()));
    std::memcpy(buffer, pending_.data(), static_cast<std::size_t>(length));
    pending_.clear();
    return length;
  }
  void Reserved2() override { ADD_FAILURE(); }
  int Send(const BYTE*, int length, TunnelAddress) override { return length; }
  HANDLE GetEvent() override { return event_; }
  void Reserved5() override { ADD_FAILURE(); }
  void SetOption(BYTE) override {}

  void Deliver(const Bytes& datagram) {  // one at a time
    std::lock_guard<std::mutex> guard(lock_);
    pending_ = datagram;
    SetEvent(event_);
  }

 private:
  HANDLE event_;
  std::mutex lock_;
  Bytes pending_;
};

// Records what the engine asks of it, all on the control's (the test's) thread. Instances live
// until the factory goes, so a released one that were still used would not crash the test.
struct RecordingFactory : ITunnelFactory {
  ITunnel* CreateReceiver(TunnelAddress local) override {
    locals.push_back(local);
    tunnels.push_back(std::make_unique<QueueTunnel>());
    return tunnels.back().get();
  }
  ITunnel* CreateSender() override { return nullptr; }  // the engine never sends
  void Release(ITunnel* tunnel) override { released.push_back(tunnel); }

  std::vector<TunnelAddress> locals;
  std::vector<std::unique_ptr<QueueTunnel>> tunnels;
  std::vector<ITunnel*> released;
};

// The engine's TearDown resets it before the factory goes.
class EngineTunnel : public EngineOnLoopback {
 protected:
  void SetUp() override {
    EngineOnLoopback::SetUp();
    engine_->m_pTunnelFactory = &factory_;
  }

  RecordingFactory factory_;
};

// Stop, a second Setup and the destructor each hand back the tunnel they find, once, whether it
// was started or not.
TEST_F(EngineTunnel, AttachesInsteadOfJoiningAndHandsEachTunnelBackOnce) {
  ASSERT_EQ(engine_->Setup(), S_OK);
  ASSERT_EQ(factory_.tunnels.size(), 1u);
  EXPECT_EQ(factory_.locals[0].address, 0u);
  EXPECT_EQ(factory_.locals[0].port, port_);
  // The socket stays unbound: the tunnel carries the stream, and there is nothing to join on.
  EXPECT_TRUE(CanBind("127.0.0.1", port_));
  ASSERT_TRUE(engine_->Start());
  factory_.tunnels[0]->Deliver(sender_->Datagrams(Geometry(640, 480), {}).at(0));
  EXPECT_TRUE(WaitUntil([&] { return ShowsRect(*engine_, 640, 480); }));

  ASSERT_EQ(engine_->Setup(), S_OK);
  ASSERT_EQ(factory_.tunnels.size(), 2u);
  ASSERT_TRUE(engine_->Start());
  EXPECT_TRUE(engine_->Stop());
  ASSERT_EQ(engine_->Setup(), S_OK);  // never started
  engine_.reset();
  EXPECT_EQ(factory_.released,
            (std::vector<ITunnel*>{factory_.tunnels[0].get(), factory_.tunnels[1].get(),
                                   factory_.tunnels[2].get()}));
}

// When the engine paints, on a virtual clock: block streams once per frame interval however
// many blocks come and repainted when idle, a video stream once per frame and never when idle;
// and a stop that wakes a pass waiting for a message.
class EngineTiming : public EngineOnLoopback {
 protected:
  void SetUp() override {
    EngineOnLoopback::SetUp();
    engine_->SetClock(&VirtualClock::Now);
    engine_->SetReceiveWaitMs(20);  // idle passes come often; their time is the virtual clock's
  }
};

TEST_F(EngineTiming, BlocksArePaintedOncePerFrameIntervalAndRepaintedWhenIdle) {
  ASSERT_EQ(engine_->Setup(), S_OK);
  PaintLog paints(window_->Get());
  ASSERT_TRUE(engine_->Start());
  ASSERT_TRUE(WaitUntil([&] { return paints.DrawCount() == 1; }));  // the first pass draws

  // One colour: the burst fits the socket's buffer.
  const std::vector<std::uint32_t> picture(kWidth * kHeight, 0xFF336699u);
  const std::vector<Bytes> blocks = ZlibBlocks(picture, kWidth, kHeight);
  for (int round = 0; round < 5; ++round) {
    for (std::uint16_t i = 0; i < blocks.size(); ++i) {
      sender_->Send(BlockFields(kWidth, kHeight, i), blocks[i]);
    }
  }
  const std::size_t datagrams = 5 * blocks.size();  // one colour: one datagram a block
  unsigned received = 0;
  ASSERT_TRUE(WaitUntil(
      [&] { return (received += Received(engine_->GetPacketLossReport())) >= datagrams; }));
  ASSERT_TRUE(VirtualClock::WaitForPasses(2));
  EXPECT_EQ(paints.DrawCount(), 1u) << "painted before the frame interval passed";
  VirtualClock::Advance(100);
  ASSERT_TRUE(VirtualClock::WaitForPasses(2));
  EXPECT_EQ(paints.DrawCount(), 1u) << "painted at exactly the frame interval";
  VirtualClock::Advance(1);
  EXPECT_TRUE(WaitUntil([&] { return paints.DrawCount() == 2; }));
  EXPECT_TRUE(window_->Pixels() == picture);

  // Idle: each interval that passes repaints the last picture once.
  VirtualClock::Advance(101);
  EXPECT_TRUE(WaitUntil([&] { return paints.PaintCount() == 2; }));
  ASSERT_TRUE(VirtualClock::WaitForPasses(2));
  EXPECT_EQ(paints.DrawCount(), 3u);
}

TEST_F(EngineTiming, VideoStreamIsPaintedOncePerFrameAndNotWhenIdle) {
  constexpr int kVideoWidth = 320, kVideoHeight = 240;
  FrameEncoderSettings settings;
  settings.width = kVideoWidth;
  settings.height = kVideoHeight;
  std::unique_ptr<IFrameEncoder> encoder = CreateFrameEncoder(4, settings);

  ASSERT_EQ(engine_->Setup(), S_OK);
  PaintLog paints(window_->Get());
  ASSERT_TRUE(engine_->Start());
  presenter::ScreenMessageFields fields = Geometry(kVideoWidth, kVideoHeight);
  fields.streamMode = 4;
  constexpr std::size_t kFrames = 3;
  for (std::size_t n = 0; n < kFrames; ++n) {
    const auto picture = Picture(kVideoWidth, kVideoHeight, static_cast<std::uint32_t>(7 + n));
    Bytes frame;
    ASSERT_TRUE(encoder->Encode(reinterpret_cast<const std::uint8_t*>(picture.data()),
                                kVideoWidth * 4, n == 0, &frame));
    sender_->Send(fields, frame);
    ASSERT_TRUE(WaitUntil([&] { return paints.PaintCount() == n + 1; })) << "frame " << n;
  }

  // Idle: no timed draws at all, painted or not, however much time passes.
  ASSERT_TRUE(VirtualClock::WaitForPasses(2));
  const std::size_t draws = paints.DrawCount();
  VirtualClock::Advance(5000);
  ASSERT_TRUE(VirtualClock::WaitForPasses(3));
  EXPECT_EQ(paints.PaintCount(), kFrames);
  EXPECT_EQ(paints.DrawCount(), draws);
}

// A pass that waits for a message without end still ends at Stop, again after each Start; a Stop
// that left it waiting would run into the stop limit and report failure.
TEST_F(EngineTiming, StopWakesAPassThatWaitsForAMessage) {
  engine_->SetReceiveWaitMs(INFINITE);
  ASSERT_EQ(engine_->Setup(), S_OK);
  for (int round = 0; round < 3; ++round) {
    const std::uint64_t reads = VirtualClock::Reads();
    ASSERT_TRUE(engine_->Start());  // resets the stop event that the last Stop left set
    // Ends the first pass's wait, which reads the clock after it; the second one waits anew.
    sender_->Send(Geometry(kWidth, kHeight), {});
    ASSERT_TRUE(VirtualClock::WaitForReads(reads + 1));
    ASSERT_TRUE(VirtualClock::WaitUntilReaderSleeps());  // in the second pass's wait
    EXPECT_TRUE(engine_->Stop()) << "round " << round;
  }
}

// The engine with no settings opens 0.0.0.0:60004 and joins 224.76.12.19 with the default
// interface, which must never happen on an interface of the machine that runs the tests. Each
// case therefore runs in a forked child inside a network namespace of its own, where loopback
// is the only interface and carries the multicast route.
struct DefaultsCase {
  const char* name;
  const char* group;  // null: the engine's default is left alone
  bool joined;
};

// The child's whole life in its private network: an engine with defaults, traffic on loopback.
// Its exit code says which check failed.
int RunInPrivateNetwork(const DefaultsCase& c) {
  if (!kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless)) return 9;
  TestWindow window(200, 100);
  const char* group = c.group != nullptr ? c.group : "224.76.12.19";  // the default, written out
  CScreenSharing engine;
  if (c.group != nullptr) engine.SetGroupAddress(c.group);
  engine.SetWindow(window.Get());
  if (engine.Setup() != S_OK || !engine.Start()) return 10;
  std::vector<std::uint32_t> joined = JoinedGroups("lo");
  std::erase(joined, 0xE0000001u);  // all hosts: every interface with multicast is in it
  if (joined != (c.joined ? std::vector<std::uint32_t>{ntohl(inet_addr(group))}
                          : std::vector<std::uint32_t>{})) {
    return 11;
  }
  // Bound on every address: no other socket gets the port on any of them.
  if (CanBind("127.0.0.1", 60004) || CanBind("127.0.0.2", 60004)) return 12;
  if (c.joined) {
    ScreenSender(group, 60004).Send(Geometry(640, 480), {});
    if (!WaitUntil([&] { return ShowsRect(engine, 640, 480); })) return 13;
  }
  ScreenSender("127.0.0.1", 60004, 500).Send(Geometry(320, 200), {});
  if (!WaitUntil([&] { return ShowsRect(engine, 320, 200); })) return 14;
  return engine.Stop() ? 0 : 15;
}

class EngineDefaults : public ::testing::TestWithParam<DefaultsCase> {};

TEST_P(EngineDefaults, OpensEveryAddressOnTheDefaultPortAndJoinsOnlyClassDGroups) {
  const DefaultsCase c = GetParam();
  ExpectPassesInPrivateHost([c] { return RunInPrivateNetwork(c); });
}

INSTANTIATE_TEST_SUITE_P(Group, EngineDefaults,
                         ::testing::Values(DefaultsCase{"Default", nullptr, true},
                                           DefaultsCase{"ClassE", "240.0.0.1", false},
                                           DefaultsCase{"Malformed", "not-an-address", false}),
                         [](const ::testing::TestParamInfo<DefaultsCase>& info) {
                           return info.param.name;
                         });

// The presenter's library into the engine over loopback, for every stream mode: frames of a
// synthetic desktop coded by the streamer, sent as RTP by the sender, received, decoded and
// painted 1:1 into a headless window, which must then show the presenter's last frame upright.
// A size change in mid-stream reaches the size sink once.
struct ModeCase {
  const char* name;
  int mode;
  int bytesPerPixel;
  double minPsnr;  // INFINITY: every pixel; 0: to the nearest 3-3-2 palette colour
};

// Whether the window's top-left width x height shows the BGRA screen as closely as c asks.
bool Shows(const TestWindow& window, const ModeCase& c, const std::vector<std::uint8_t>& screen,
           int width, int height) {
  std::vector<std::uint32_t> shown;
  int shownWidth = 0, shownHeight = 0;
  if (!kwz_platform::ReadWindowPixels(window.Get(), &shown, &shownWidth, &shownHeight) ||
      shownWidth < width || shownHeight < height) {
    return false;
  }
  std::vector<std::uint8_t> bgr(static_cast<std::size_t>(width) * height * 3);
  for (std::size_t p = 0; p < bgr.size() / 3; ++p) {
    const std::uint32_t pixel = shown[p / width * shownWidth + p % width];
    for (int ch = 0; ch < 3; ++ch) {
      bgr[p * 3 + ch] = static_cast<std::uint8_t>(pixel >> (8 * ch));
      if (c.minPsnr != 0) continue;
      // Eight bits: each channel is the 3-3-2 palette level nearest to the captured value.
      const int levels = ch == 0 ? 4 : 8, captured = screen[p * 4 + ch];
      int nearest = 255;
      for (int level = 0; level < levels; ++level)
        nearest = std::min(nearest, std::abs(level * 255 / (levels - 1) - captured));
      if (std::abs(int{bgr[p * 3 + ch]} - captured) != nearest) return false;
    }
  }
  return c.minPsnr == 0 || PsnrBgr(screen, bgr, width, height) >= c.minPsnr;
}

class EveryModeEndToEnd : public ::testing::TestWithParam<ModeCase> {};

// Frames 0 to 6 of one scene, then one of the next, of a 1010 x 570 screen (neither whole blocks
// nor whole macroblocks), then the same for an 804 x 452 one: a window that still shows any
// earlier frame fails the comparison with the last.
TEST_P(EveryModeEndToEnd, WindowShowsThePresentersScreenAndFollowsASizeChange) {
  const ModeCase& c = GetParam();
  UseHeadlessGdi();
  const USHORT port = FreeEvenPort();
  ASSERT_NE(port, 0);
  SizeLog sizes;
  TestWindow window(1010, 570);
  CScreenSharing engine;
  engine.m_dwPort = port;
  engine.m_pSizeSink = &sizes;
  engine.SetLocalAddress("127.0.0.1");
  engine.SetWindow(window.Get());
  presenter::ScreenStreamSettings stream;
  stream.streamMode = c.mode;
  stream.bytesPerPixel = c.bytesPerPixel;
  stream.frameRate = 10;
  presenter::CScreenStreamer streamer(stream);
  presenter::ScreenSenderSettings send;
  send.address = "127.0.0.1";
  send.port = port;
  presenter::CScreenSender sender(send);
  ASSERT_EQ(engine.Setup(), S_OK);
  ASSERT_TRUE(engine.Start());

  std::vector<std::pair<std::uint32_t, std::uint32_t>> expectedSizes;
  std::uint32_t timestamp = 0;
  for (const auto& [width, height, scene] : {std::tuple{1010, 570, 0}, std::tuple{804, 452, 2}}) {
    SCOPED_TRACE(width);
    const SyntheticDesktop desktop(width, height);
    const std::uint32_t first = scene * SyntheticDesktop::kFramesPerScene;
    std::vector<std::uint8_t> screen;
    for (std::uint32_t n = first; n < first + 8; ++n) {
      screen = desktop.Render(n + 1 == first + 8 ? first + SyntheticDesktop::kFramesPerScene : n);
      timestamp += 9000;
      EXPECT_TRUE(streamer
                      .AddFrame(FrameOf(screen, width, height),
                                [&](const std::uint8_t* message, std::size_t length) {
                                  EXPECT_TRUE(sender.Send(message, length, timestamp));
                                })
                      .accepted);
      // Paces the sender: the receiver's socket buffer, which reports nothing, holds a frame or
      // two.
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(WaitUntil([&] { return Shows(window, c, screen, width, height); }, 30000));
    expectedSizes.emplace_back(width, height);
    EXPECT_EQ(sizes.Sizes(), expectedSizes);
  }
  EXPECT_TRUE(engine.Stop());
  EXPECT_EQ(engine.GetPacketLossReport().substr(0, 2), u"0/");
}

INSTANTIATE_TEST_SUITE_P(Loopback, EveryModeEndToEnd,
                         ::testing::Values(ModeCase{"Zlib32", 1, 4, INFINITY},
                                           ModeCase{"Zlib8", 1, 1, 0}, ModeCase{"Jpeg", 2, 4, 30},
                                           ModeCase{"Mpeg4", 3, 4, 35}, ModeCase{"H264", 4, 4, 35},
                                           ModeCase{"Vp8", 5, 4, 35}, ModeCase{"Vp9", 6, 4, 35}),
                         [](const ::testing::TestParamInfo<ModeCase>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace kwz_test
