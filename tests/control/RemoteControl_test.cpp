// Remote control as the presenter's side receives it: the re-sent mouse record, the transport's
// life through Start, End, DeInit and a socket that cannot be had, the cursor's scaling into the
// shared screen, and the tunnel's slots.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/gdi_testing.h"
#include "platform/winsock_testing.h"
#include "tests/control/RemoteControlFixture.h"

namespace kwz_test {
namespace {

// Sockets this process holds now.
int SocketCount() {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    if (target.rfind("socket:", 0) == 0) ++count;
  }
  return count;
}

void MoveCursor(int x, int y) {
  kwz_platform::SetHeadlessScreen({}, 0, 0, POINT{x, y});
}

TEST_F(RemoteControlTest, ResendsTheMouseRecordEveryPeriodWithoutInput) {
  control_->SetResendPeriod(1);
  CreateWindow(640, 480);
  MoveCursor(5000, 5000);  // outside: the position stays as reset
  ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  for (int i = 0; i < 3; ++i) {
    std::optional<InputRecord> record = NextRecord();
    ASSERT_TRUE(record.has_value()) << i;
    EXPECT_EQ(*record, MouseRecord(0, 0, 0));
  }
  EXPECT_EQ(control_->EndRemoteControl(), S_OK);
}

// A socket that cannot be had gives S_FALSE and leaves nothing open; starting twice keeps one
// socket, ending (twice) closes it, and DeInit and the window's destruction end remote control.
TEST_F(RemoteControlTest, TheTransportLivesFromStartToEndDeInitOrTheWindowsEnd) {
  EXPECT_EQ(control_->EndRemoteControl(), S_OK);  // off: harmless
  CreateWindow();
  const int sockets = SocketCount();
  kwz_platform::FailNextSocket(WSAENOBUFS);
  EXPECT_EQ(control_->StartRemoteControl(), S_FALSE);
  EXPECT_FALSE(control_->RemoteControlRunning());
  EXPECT_EQ(SocketCount(), sockets);
  SendMessageW(control_->Window(), WM_LBUTTONDOWN, MK_LBUTTON, 0);  // goes nowhere
  // The next start works, and the press went out through no socket: the first record is the
  // re-send's, whose buttons the start reset.
  ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  std::optional<InputRecord> first = Resend();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->buttons, 0u);
  const int socketsOn = SocketCount();
  EXPECT_GT(socketsOn, sockets);
  ASSERT_EQ(script().Call(u"StartRemoteControl").hr, S_OK);
  EXPECT_TRUE(control_->RemoteControlRunning());
  EXPECT_EQ(SocketCount(), socketsOn);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(script().Call(u"EndRemoteControl").hr, S_OK);
    EXPECT_FALSE(control_->RemoteControlRunning());
    EXPECT_EQ(SocketCount(), sockets);
  }

  ASSERT_EQ(script().Call(u"Init").hr, S_OK);
  ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  ASSERT_EQ(script().Call(u"DeInit").hr, S_OK);
  EXPECT_FALSE(control_->RemoteControlRunning());
  ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  control_->DestroyControlWindow();
  EXPECT_FALSE(control_->RemoteControlRunning());
}

// A 1920 x 1000 shared screen in a 960 x 500 window: with stretching the offset doubles.
TEST_F(RemoteControlTest, StretchingScalesTheCursorIntoTheSharedScreen) {
  CreateWindow(960, 500);
  ASSERT_EQ(script().Call(u"Init").hr, S_OK);
  ASSERT_EQ(script().Call(u"Start").hr, S_OK);
  MoveCursor(100, 10);
  ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  EXPECT_EQ(Resend(), MouseRecord(100, 10, 0));  // not stretching: the offset itself

  ASSERT_EQ(script().PutNumber(u"EnableStretch", 1).hr, S_OK);
  EXPECT_EQ(Resend(), MouseRecord(0, 0, 0));  // no screen message yet: 0 by 0
  sender_->Send(BlockFields(1920, 1000, 0), Zlib(Bytes(100 * 100 * 4, 0x40)));
  std::optional<InputRecord> scaled;
  EXPECT_TRUE(PumpUntil([&] { return (scaled = Resend()) && scaled->x != 0; }));
  EXPECT_EQ(scaled, MouseRecord(200, 20, 0));

  // The window's far edge counts as inside; beyond it the last position stays.
  MoveCursor(960, 500);
  EXPECT_EQ(Resend(), MouseRecord(1920, 1000, 0));
  MoveCursor(961, 250);
  EXPECT_EQ(Resend(), MouseRecord(1920, 1000, 0));
}

TEST_F(RemoteControlTest, TheTunnelCarriesTheRecordsThroughItsSlots) {
  UseTunnel();
  CreateWindow(640, 480);
  MoveCursor(7, 8);
  ASSERT_EQ(script().PutText(u"ServerPort", u"70001").hr, S_OK);  // above 16 bits: kept whole
  ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  ASSERT_EQ(factory_.senders, 1);
  RecordingTunnel* tunnel = factory_.Sender();
  ASSERT_NE(tunnel, nullptr);
  EXPECT_EQ(tunnel->Options(), std::vector<BYTE>{0});

  SendMessageW(control_->Window(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(7, 8));
  control_->ResendNow();
  ASSERT_TRUE(PumpUntil([&] { return tunnel->SentAll().size() == 2; }));
  for (const RecordingTunnel::Sent& sent : tunnel->SentAll()) {
    EXPECT_EQ(sent.record, MouseRecord(7, 8, 0x20));
    EXPECT_EQ(sent.length, 24);
    EXPECT_EQ(sent.to.address, 0u);
    EXPECT_EQ(sent.to.port, 70001u);
  }
  // Nothing went through a socket of its own.
  EXPECT_FALSE(NextRecord(0).has_value());

  EXPECT_EQ(control_->EndRemoteControl(), S_OK);
  EXPECT_EQ(control_->EndRemoteControl(), S_OK);
  EXPECT_EQ(factory_.released, std::vector<ITunnel*>{tunnel});
}

// The engine finds the factory by the same id: its endpoint takes a receiving instance instead
// of opening the port. A factory without a sending instance, or an id that names no factory,
// leaves remote control off; such an id leaves the engine on its own socket.
TEST_F(RemoteControlTest, TheIdNamesTheFactoryOfTheEngineAndOfRemoteControl) {
  UseTunnel();
  CreateWindow();
  factory_.refuse = true;
  EXPECT_EQ(control_->StartRemoteControl(), S_FALSE);
  EXPECT_FALSE(control_->RemoteControlRunning());
  EXPECT_TRUE(factory_.released.empty());
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
  EXPECT_EQ(control_->StartRemoteControl(), S_FALSE);
  EXPECT_FALSE(control_->RemoteControlRunning());
  EXPECT_EQ(factory_.senders, 1);
}

}  // namespace
}  // namespace kwz_test
