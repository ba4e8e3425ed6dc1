// The three threads of a running engine at once: the control's thread setting up, starting and
// stopping it, the remote-control thread reading the screen rectangle and the control reading
// the loss counters, and the engine's own thread receiving a stream that never pauses.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/widestring.h"
#include "tests/engine/EngineFixture.h"

namespace kwz_test {
namespace {

using EngineThreads = EngineOnLoopback;

TEST_F(EngineThreads, ControllerReadersAndTheEngineThreadRunTogether) {
  const auto picture = Picture(kWidth, kHeight, 9);
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
        sender.Send(BlockFields(kWidth, kHeight, index, 40, 30), blocks[index]);
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
    // After the churn the engine still follows the stream.
    engine_->SetStretch(false);
    engine_->SetWindow(window_->Get());
    failedCalls += !engine_->Start();
    EXPECT_TRUE(WaitUntil([&] { return ShowsRect(kWidth, kHeight); }));
    EXPECT_EQ(failedCalls, 0);
  }  // the jthreads stop and join here
  EXPECT_TRUE(engine_->Stop());
  EXPECT_EQ(badRects.load(), 0);
  EXPECT_EQ(badReports.load(), 0);
}

}  // namespace
}  // namespace kwz_test
