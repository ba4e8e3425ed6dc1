// Init, Start, Stop and DeInit through their states, an address that cannot be opened, and the
// loss counters read from a real stream. Init before the window and the window's end are driven
// through in-place activation in ScreenReceiver_ole_test.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/control/ReceiverOnLoopback.h"

namespace kwz_test {
namespace {

TEST_F(ReceiverOnLoopback, StateTable) {
  Script s = script();
  CreateWindow();
  // created: Start does nothing.
  EXPECT_EQ(s.Call(u"Start").hr, S_OK);
  EXPECT_EQ(control_->Engine(), nullptr);
  // created -> initialized.
  ASSERT_EQ(s.Call(u"Init").hr, S_OK);
  CScreenSharing* engine = control_->Engine();
  ASSERT_NE(engine, nullptr);
  EXPECT_FALSE(engine->IsRunning());
  EXPECT_TRUE(PortHeld());
  // initialized: Init again keeps the engine.
  EXPECT_EQ(s.Call(u"Init").hr, S_OK);
  EXPECT_EQ(control_->Engine(), engine);
  // initialized -> running; Start again changes nothing.
  EXPECT_EQ(s.Call(u"Start").hr, S_OK);
  EXPECT_EQ(s.Call(u"Start").hr, S_OK);
  EXPECT_EQ(s.Call(u"Init").hr, S_OK);
  EXPECT_EQ(control_->Engine(), engine);
  EXPECT_TRUE(engine->IsRunning());
  // running -> created through Stop; Start alone then does nothing.
  EXPECT_EQ(s.Call(u"Stop").hr, S_OK);
  EXPECT_EQ(control_->Engine(), nullptr);
  EXPECT_FALSE(PortHeld());
  EXPECT_EQ(s.Call(u"Start").hr, S_OK);
  EXPECT_EQ(control_->Engine(), nullptr);
  // And back through Init, then DeInit twice.
  ASSERT_EQ(s.Call(u"Init").hr, S_OK);
  EXPECT_EQ(s.Call(u"DeInit").hr, S_OK);
  EXPECT_EQ(s.Call(u"DeInit").hr, S_OK);
  EXPECT_EQ(control_->Engine(), nullptr);
  EXPECT_FALSE(PortHeld());
}

TEST_F(ReceiverOnLoopback, ReleasingTheLastReferenceStopsARunningEngine) {
  Script s = script();
  CreateWindow();
  ASSERT_EQ(s.Call(u"Init").hr, S_OK);
  ASSERT_EQ(s.Call(u"Start").hr, S_OK);
  ASSERT_TRUE(PortHeld());
  control_ = nullptr;
  dispatch_.Release();
  EXPECT_EQ(CKWZ_ScreenReceiver::ObjectCount(), 0);
  EXPECT_FALSE(PortHeld());
}

// Without a group and with SourceAddress never set, the engine is handed the empty address,
// which opening refuses: Init fails with a described error and nothing starts.
TEST_F(ControlTest, NeverSetSourceAddressFailsInitWithADescription) {
  UseHeadlessGdi();
  CreateWindow();
  Script s = script();
  const ScriptResult init = s.Call(u"Init");
  ASSERT_EQ(init.hr, DISP_E_EXCEPTION);
  EXPECT_FALSE(init.description.empty());
  EXPECT_EQ(init.source, kScreenReceiverProgId);
  // The engine is held but not initialised: Start does not run it, DeInit releases it.
  ASSERT_NE(control_->Engine(), nullptr);
  EXPECT_EQ(s.Call(u"Start").hr, S_OK);
  EXPECT_FALSE(control_->Engine()->IsRunning());
  // A second Init fails the same way without leaking the first engine.
  EXPECT_EQ(s.Call(u"Init").hr, DISP_E_EXCEPTION);
  EXPECT_EQ(s.Call(u"DeInit").hr, S_OK);
  EXPECT_EQ(control_->Engine(), nullptr);
}

TEST_F(ReceiverOnLoopback, VideoPacketLossCountsTheStreamAndResetsOnRead) {
  Script s = script();
  CreateWindow();
  ASSERT_EQ(s.Call(u"Init").hr, S_OK);
  ASSERT_EQ(s.Call(u"Start").hr, S_OK);

  // Three block messages; the datagrams of the middle one never leave. Only the received
  // count is in datagrams.
  const std::vector<Bytes> blocks = ZlibBlocks(Picture(kWidth, kHeight, 3), kWidth, kHeight);
  unsigned sent = 0;
  unsigned dropped = 0;
  for (std::uint16_t i = 0; i < 3; ++i) {
    for (const Bytes& d : sender_->Datagrams(BlockFields(kWidth, kHeight, i), blocks[i])) {
      if (i == 1) {
        ++dropped;
      } else {
        sender_->SendDatagram(d);
        ++sent;
      }
    }
  }
  ASSERT_GT(dropped, 0u);
  unsigned lost = 0;
  unsigned received = 0;
  EXPECT_TRUE(PumpUntil([&] {
    // "lost/received" since the last read.
    const std::string report = Narrow(s.Call(u"GetProperties", {u"video_pck_lost"}).text.c_str());
    unsigned l = 0, r = 0;
    EXPECT_EQ(std::sscanf(report.c_str(), "%u/%u", &l, &r), 2) << report;
    lost += l;
    received += r;
    return received >= sent && lost >= 1;
  }));
  EXPECT_EQ(received, sent);
  EXPECT_EQ(lost, 1u);  // one gap in the sequence, however many datagrams it swallowed
  // Nothing arrived since the last read.
  EXPECT_EQ(s.Call(u"GetProperties", {u"video_pck_lost"}).text, u"0/0");
  EXPECT_EQ(s.Call(u"GetProperties", {u"pck_lost"}).text, u"0/0");
}

}  // namespace
}  // namespace kwz_test
