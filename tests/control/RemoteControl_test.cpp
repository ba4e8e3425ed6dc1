// Remote control as the presenter's side receives it: the transport's life through Start, End,
// DeInit and a socket that cannot be had, the cursor's edges, the tunnel's slots, and the control
// window's messages. The periodic re-send and stretching's scale are
// driven end to end in KwzViewer_test.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

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

// A socket that cannot be had gives S_FALSE and leaves nothing open; starting twice keeps one
// socket, ending closes it (ending when off is harmless), and DeInit and the window's destruction
// end remote control.
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
  ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  EXPECT_EQ(SocketCount(), socketsOn);
  EXPECT_EQ(control_->EndRemoteControl(), S_OK);
  EXPECT_FALSE(control_->RemoteControlRunning());
  EXPECT_EQ(SocketCount(), sockets);

  ASSERT_EQ(script().Call(u"Init").hr, S_OK);
  ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  ASSERT_EQ(script().Call(u"DeInit").hr, S_OK);
  EXPECT_FALSE(control_->RemoteControlRunning());
  ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  control_->DestroyControlWindow();
  EXPECT_FALSE(control_->RemoteControlRunning());
}

// Not stretching, the record is the cursor's offset in the window; the far edge counts as inside,
// beyond it the last position stays.
TEST_F(RemoteControlTest, TheCursorIsTakenInsideTheWindowItsFarEdgeIncluded) {
  CreateWindow(960, 500);
  MoveCursor(100, 10);
  ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  EXPECT_EQ(Resend(), MouseRecord(100, 10, 0));
  MoveCursor(960, 500);
  EXPECT_EQ(Resend(), MouseRecord(960, 500, 0));
  MoveCursor(961, 250);
  EXPECT_EQ(Resend(), MouseRecord(960, 500, 0));
}

// The id names the factory of the engine and of remote control: the engine's endpoint takes a
// receiving instance instead of opening the port, and the records go through the sending
// instance's slots. A factory without a sending instance, or an id that names no factory, leaves
// remote control off; such an id leaves the engine on its own socket.
TEST_F(RemoteControlTest, TheTunnelIdNamesTheFactoryWhoseSlotsCarryTheRecords) {
  UseTunnel();
  CreateWindow(640, 480);
  factory_.refuse = true;
  EXPECT_EQ(control_->StartRemoteControl(), S_FALSE);
  EXPECT_FALSE(control_->RemoteControlRunning());
  EXPECT_TRUE(factory_.released.empty());
  ASSERT_EQ(script().Call(u"Init").hr, S_OK);
  EXPECT_EQ(control_->Engine()->m_pTunnelFactory, &factory_);
  EXPECT_EQ(factory_.receivers, 1);
  EXPECT_FALSE(PortHeld());

  factory_.refuse = false;
  MoveCursor(7, 8);
  ASSERT_EQ(script().PutText(u"ServerPort", u"70001").hr, S_OK);  // above 16 bits: kept whole
  ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  RecordingTunnel* tunnel = factory_.Sender();
  ASSERT_NE(tunnel, nullptr);
  SendMessageW(control_->Window(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(7, 8));
  control_->ResendNow();
  ASSERT_TRUE(PumpUntil([&] { return tunnel->SentAll().size() == 2; }));
  for (const RecordingTunnel::Sent& sent : tunnel->SentAll()) {
    EXPECT_EQ(sent.record, MouseRecord(7, 8, 0x20));
    EXPECT_EQ(sent.length, 24);
    EXPECT_EQ(sent.to.address, 0u);
    EXPECT_EQ(sent.to.port, 70001u);
  }
  EXPECT_FALSE(NextRecord(0).has_value()) << "a socket of its own";
  EXPECT_EQ(control_->EndRemoteControl(), S_OK);
  EXPECT_EQ(control_->EndRemoteControl(), S_OK);
  EXPECT_EQ(factory_.released, std::vector<ITunnel*>{tunnel});
  ASSERT_EQ(script().Call(u"DeInit").hr, S_OK);

  ASSERT_EQ(script().Call(u"SetProperties", {u"enable_tunnel", u"123456789"}).hr, S_OK);
  ASSERT_EQ(script().Call(u"Init").hr, S_OK);
  EXPECT_EQ(control_->Engine()->m_pTunnelFactory, nullptr);
  EXPECT_TRUE(PortHeld());
  EXPECT_EQ(control_->StartRemoteControl(), S_FALSE);
  EXPECT_EQ(factory_.senders, 2);
}

// The control window's messages with remote control on through the tunnel, which records what
// they sent (the re-send thread sends only when told): reflected notifications, the dialog code
// and the default path send nothing, and the focus that leaves is noticed and a press takes it
// back. Painting is the engine's, from its own thread; the viewer's cases compare its pixels.
TEST_F(RemoteControlTest, TheWindowsMessages) {
  UseTunnel();
  CreateWindow(640, 480);
  const HWND window = control_->Window();
  ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  RecordingTunnel* tunnel = factory_.Sender();
  ASSERT_NE(tunnel, nullptr);
  EXPECT_EQ(SendMessageW(window, WM_GETDLGCODE, 0, 0), DLGC_WANTARROWS | DLGC_WANTTAB);
  EXPECT_EQ(SendMessageW(window, 0x2000 + WM_COMMAND, 1, 0), 0);
  // Not a reflected message: the offset is kept, so this is no WM_CLOSE.
  EXPECT_EQ(SendMessageW(window, 0x2000 + WM_CLOSE, 0, 0), 0);
  EXPECT_TRUE(IsWindow(window));
  SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
  SendMessageW(window, WM_MOUSEWHEEL, 120 << 16, 0);
  SendMessageW(window, WM_CHAR, 'a', 0x001E0001);
  EXPECT_EQ(tunnel->SentAll().size(), 0u);

  SetFocus(window);
  ASSERT_TRUE(kwz_platform::InjectFocusForTesting(window, false));
  EXPECT_TRUE(PumpUntil([&] { return GetFocus() == nullptr; }));
  EXPECT_FALSE(control_->HasFocus());
  SendMessageW(window, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(20, 20));
  EXPECT_EQ(GetFocus(), window);
  EXPECT_TRUE(control_->HasFocus());
  EXPECT_EQ(tunnel->SentAll().size(), 1u);
}

}  // namespace
}  // namespace kwz_test
