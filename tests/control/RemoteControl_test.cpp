// Remote control as the presenter's side receives it: the re-sent mouse record, the transport's
// life through Start, End, DeInit and a socket that cannot be had, the cursor's scaling into the
// shared screen, and the tunnel's slots.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/gdi_testing.h"
#include "platform/winsock_testing.h"
#include "tests/control/RemoteControlFixture.h"

namespace kwz_test {
namespace {

using Clock = std::chrono::steady_clock;

void MoveCursor(int x, int y) {
  kwz_platform::SetHeadlessScreen({}, 0, 0, POINT{x, y});
}

TEST_F(RemoteControlTest, ResendsTheMouseRecordAboutTenTimesASecondWithoutInput) {
  CreateWindow(640, 480);
  MoveCursor(5000, 5000);  // outside: the position stays as reset
  ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  ASSERT_TRUE(NextRecord().has_value());
  const auto start = Clock::now();
  int records = 0;
  while (Clock::now() - start < std::chrono::milliseconds(1500)) {
    std::optional<InputRecord> record = NextRecord(500);
    if (!record) continue;
    ++records;
    EXPECT_EQ(*record, (InputRecord{0, 0, 0, kInputRecordMouse, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF}));
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  // About 10 a second; loose bounds, as a loaded machine stretches the sleeps.
  EXPECT_GE(records, static_cast<int>(seconds * 4)) << records << " in " << seconds << " s";
  EXPECT_LE(records, static_cast<int>(seconds * 12) + 1) << records << " in " << seconds << " s";
  EXPECT_EQ(control_->EndRemoteControl(), S_OK);
}

TEST_F(RemoteControlTest, StartingTwiceLeavesOneThreadAndOneSocket) {
  CreateWindow();
  const int threads = SettledThreadCount();
  const int descriptors = OpenDescriptorCount();
  ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  EXPECT_TRUE(control_->RemoteControlRunning());
  // The re-send thread opens what it needs on its first send; count after that.
  ASSERT_TRUE(NextRecord().has_value());
  const int threadsOn = SettledThreadCount();
  const int descriptorsOn = OpenDescriptorCount();
  EXPECT_EQ(threadsOn, threads + 1);
  EXPECT_GT(descriptorsOn, descriptors);

  ASSERT_EQ(script().Call(u"StartRemoteControl").hr, S_OK);
  EXPECT_TRUE(control_->RemoteControlRunning());
  EXPECT_TRUE(ThreadCountSettlesAt(threadsOn)) << ThreadCount();
  server_.Drain(0);
  ASSERT_TRUE(NextRecord().has_value());
  EXPECT_EQ(OpenDescriptorCount(), descriptorsOn);

  EXPECT_EQ(script().Call(u"EndRemoteControl").hr, S_OK);
  EXPECT_FALSE(control_->RemoteControlRunning());
  EXPECT_TRUE(ThreadCountSettlesAt(threads)) << ThreadCount();
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
  server_.Drain(50);
  EXPECT_FALSE(NextRecord(400).has_value()) << "records after EndRemoteControl";
}

TEST_F(RemoteControlTest, EndingWhenOffIsHarmless) {
  EXPECT_EQ(control_->EndRemoteControl(), S_OK);
  CreateWindow();
  EXPECT_EQ(control_->EndRemoteControl(), S_OK);
  EXPECT_EQ(control_->EndRemoteControl(), S_OK);
  EXPECT_FALSE(control_->RemoteControlRunning());
}

TEST_F(RemoteControlTest, ASocketThatCannotBeHadGivesSFalseAndNoThread) {
  CreateWindow();
  const int threads = SettledThreadCount();
  kwz_platform::FailNextSocket(WSAENOBUFS);
  EXPECT_EQ(control_->StartRemoteControl(), S_FALSE);
  EXPECT_FALSE(control_->RemoteControlRunning());
  EXPECT_LE(ThreadCount(), threads);  // a thread of an earlier test may still be leaving
  SendMessageW(control_->Window(), WM_LBUTTONDOWN, 0, 0);
  EXPECT_FALSE(NextRecord(400).has_value());
  // Nothing was left half open: the next start works.
  EXPECT_EQ(control_->StartRemoteControl(), S_OK);
  EXPECT_TRUE(NextRecord().has_value());
}

TEST_F(RemoteControlTest, DeInitAndTheWindowsDestructionEndRemoteControl) {
  CreateWindow();
  const int threads = SettledThreadCount();
  ASSERT_EQ(script().Call(u"Init").hr, S_OK);
  ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  ASSERT_TRUE(NextRecord().has_value());
  ASSERT_EQ(script().Call(u"DeInit").hr, S_OK);
  EXPECT_FALSE(control_->RemoteControlRunning());
  EXPECT_TRUE(ThreadCountSettlesAt(threads)) << ThreadCount();
  server_.Drain(50);
  EXPECT_FALSE(NextRecord(400).has_value());

  ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  control_->DestroyControlWindow();
  EXPECT_FALSE(control_->RemoteControlRunning());
}

TEST_F(RemoteControlTest, AClickSendsDownThenUpAndTheResendsRepeatTheLastState) {
  CreateWindow(640, 480);
  MoveCursor(30, 40);
  ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  const HWND window = control_->Window();
  SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(30, 40));
  std::optional<InputRecord> down =
      RecordWhere([](const InputRecord& r) { return r.buttons != 0; });
  ASSERT_TRUE(down.has_value());
  EXPECT_EQ(*down, (InputRecord{30, 40, 0x2, kInputRecordMouse, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF}));
  SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(30, 40));
  ASSERT_TRUE(RecordWhere([](const InputRecord& r) { return r.buttons == 0x1; }).has_value());
  // From now on every re-send carries the released state.
  for (int i = 0; i < 3; ++i) {
    std::optional<InputRecord> again = NextRecord();
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->buttons, 0x1u);
  }
}

// A 1920-wide shared screen stretched into a 960-wide window: the cursor's offset doubles.
TEST_F(RemoteControlTest, StretchingScalesTheCursorIntoTheSharedScreen) {
  ASSERT_EQ(script().PutNumber(u"EnableStretch", 1).hr, S_OK);
  CreateWindow(960, 500);
  ASSERT_EQ(script().Call(u"Init").hr, S_OK);
  ASSERT_EQ(script().Call(u"Start").hr, S_OK);
  MoveCursor(100, 10);
  ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  // Before the first screen message the shared screen is 0 by 0.
  std::optional<InputRecord> first = NextRecord();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->x, 0);
  EXPECT_EQ(first->y, 0);

  sender_->Send(BlockFields(1920, 1000, 0), Zlib(Bytes(100 * 100 * 4, 0x40)));
  std::optional<InputRecord> scaled =
      RecordWhere([](const InputRecord& r) { return r.x != 0; }, 10000);
  ASSERT_TRUE(scaled.has_value());
  EXPECT_EQ(scaled->x, 200);
  EXPECT_EQ(scaled->y, 20);  // 1000 * 10 / 500

  // The window's far edge counts as inside; beyond it the last position stays.
  MoveCursor(960, 500);
  ASSERT_TRUE(RecordWhere([](const InputRecord& r) { return r.x == 1920; }).has_value());
  MoveCursor(961, 250);
  SkipRecordsFor(250);
  for (int i = 0; i < 3; ++i) {
    std::optional<InputRecord> kept = NextRecord();
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(kept->x, 1920);
    EXPECT_EQ(kept->y, 1000);
  }
}

TEST_F(RemoteControlTest, WithoutStretchingTheOffsetInTheWindowIsSent) {
  CreateWindow(960, 500);
  ASSERT_EQ(script().Call(u"Init").hr, S_OK);
  MoveCursor(100, 10);
  ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  std::optional<InputRecord> record = NextRecord();
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->x, 100);
  EXPECT_EQ(record->y, 10);
}

TEST_F(RemoteControlTest, TheTunnelCarriesTheRecordsThroughItsSlots) {
  UseTunnel();
  CreateWindow(640, 480);
  MoveCursor(7, 8);
  ASSERT_EQ(script().PutText(u"ServerPort", u"70001").hr, S_OK);  // above 16 bits: kept whole
  ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  ASSERT_EQ(factory_.senders, 1);
  RecordingTunnel* tunnel = factory_.Instance(0);
  ASSERT_NE(tunnel, nullptr);
  EXPECT_EQ(tunnel->Options(), std::vector<BYTE>{0});

  SendMessageW(control_->Window(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(7, 8));
  const std::vector<InputRecord> mine = tunnel->SentBy(GetCurrentThreadId());
  ASSERT_EQ(mine.size(), 1u);
  EXPECT_EQ(mine[0], (InputRecord{7, 8, 0x20, kInputRecordMouse, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF}));
  ASSERT_TRUE(PumpUntil([&] { return tunnel->SentAll().size() >= 3; }));
  for (const RecordingTunnel::Sent& sent : tunnel->SentAll()) {
    EXPECT_EQ(sent.length, 24);
    EXPECT_EQ(sent.to.address, 0u);
    EXPECT_EQ(sent.to.port, 70001u);
  }
  // Nothing went through a socket of its own.
  EXPECT_FALSE(NextRecord(200).has_value());

  EXPECT_EQ(control_->EndRemoteControl(), S_OK);
  EXPECT_EQ(factory_.released, std::vector<ITunnel*>{tunnel});
  const std::size_t sent = tunnel->SentAll().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_EQ(tunnel->SentAll().size(), sent);
  EXPECT_EQ(control_->EndRemoteControl(), S_OK);
  EXPECT_EQ(factory_.released.size(), 1u);
}

// The engine finds the factory by the same id: its endpoint takes a receiving instance instead
// of opening the port. An id that names no factory leaves it on its own socket.
TEST_F(RemoteControlTest, TheEngineReceivesThroughTheFactoryTheIdNames) {
  UseTunnel();
  CreateWindow();
  ASSERT_EQ(script().Call(u"Init").hr, S_OK);
  ASSERT_NE(control_->Engine(), nullptr);
  EXPECT_EQ(control_->Engine()->m_pTunnelFactory, &factory_);
  EXPECT_EQ(factory_.receivers, 1);
  EXPECT_FALSE(PortHeld());
  ASSERT_EQ(script().Call(u"DeInit").hr, S_OK);

  ASSERT_EQ(script().Call(u"SetProperties", {u"enable_tunnel", u"123456789"}).hr, S_OK);
  ASSERT_EQ(script().Call(u"Init").hr, S_OK);
  ASSERT_NE(control_->Engine(), nullptr);
  EXPECT_EQ(control_->Engine()->m_pTunnelFactory, nullptr);
  EXPECT_TRUE(PortHeld());
  EXPECT_EQ(factory_.receivers, 1);
}

TEST_F(RemoteControlTest, ATunnelWithoutAnInstanceOrAnUnknownIdGivesSFalse) {
  UseTunnel();
  CreateWindow();
  factory_.refuse = true;
  EXPECT_EQ(control_->StartRemoteControl(), S_FALSE);
  EXPECT_FALSE(control_->RemoteControlRunning());
  EXPECT_TRUE(factory_.released.empty());

  ASSERT_EQ(script().Call(u"SetProperties", {u"enable_tunnel", u"123456789"}).hr, S_OK);
  EXPECT_EQ(control_->StartRemoteControl(), S_FALSE);
  EXPECT_FALSE(control_->RemoteControlRunning());
  EXPECT_EQ(factory_.senders, 1);
}

}  // namespace
}  // namespace kwz_test
