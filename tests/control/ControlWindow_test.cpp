// The control window's messages in their order of precedence: painting that only erases,
// reflected notifications, the dialog code, the default path for what the control does not
// claim, and the focus that leaves and that a press takes back.
#include <gtest/gtest.h>

#include <vector>

#include "platform/gdi.h"
#include "platform/gdi_testing.h"
#include "tests/control/RemoteControlFixture.h"

namespace kwz_test {
namespace {

class ControlWindowTest : public RemoteControlTest {
 protected:
  void SetUp() override {
    RemoteControlTest::SetUp();
    UseTunnel();
    CreateWindow(640, 480);
    window_ = control_->Window();
    ASSERT_EQ(control_->StartRemoteControl(), S_OK);
    tunnel_ = factory_.Sender();
    ASSERT_NE(tunnel_, nullptr);
  }

  // What the window's messages sent: the re-send thread sends only when told.
  std::size_t Sent() { return tunnel_->SentAll().size(); }

  HWND window_ = nullptr;
  RecordingTunnel* tunnel_ = nullptr;
};

// Every pixel of the window, or 0 when they differ.
std::uint32_t WindowColour(HWND window) {
  std::vector<std::uint32_t> pixels;
  int width = 0, height = 0;
  if (!kwz_platform::ReadWindowPixels(window, &pixels, &width, &height) || pixels.empty()) return 0;
  for (std::uint32_t p : pixels) {
    if (p != pixels.front()) return 0;
  }
  return pixels.front();
}

TEST_F(ControlWindowTest, PaintingErasesToTheClassBackgroundAndDrawsNothingElse) {
  constexpr std::uint32_t kWhite = 0xFFFFFFFF, kRed = 0xFFFF0000;
  // A new window is invalid: its first paint erases it to COLOR_WINDOW.
  EXPECT_EQ(SendMessageW(window_, WM_PAINT, 0, 0), 0);
  EXPECT_EQ(WindowColour(window_), kWhite);

  // The engine's picture, stood in for by one red pixel stretched over the window.
  BITMAPINFO info{};
  info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), 1, 1, 1, 32, 0, 0, 0, 0, 0, 0};
  const std::uint32_t red = 0x00FF0000;
  HDC dc = GetDC(window_);
  ASSERT_NE(dc, nullptr);
  StretchDIBits(dc, 0, 0, 640, 480, 0, 0, 1, 1, &red, &info, DIB_RGB_COLORS, SRCCOPY);
  ReleaseDC(window_, dc);

  SendMessageW(window_, WM_PAINT, 0, 0);  // nothing invalid: the control draws nothing
  EXPECT_EQ(WindowColour(window_), kRed);
  InvalidateRect(window_, nullptr, TRUE);
  SendMessageW(window_, WM_PAINT, 0, 0);
  EXPECT_EQ(WindowColour(window_), kWhite);
}

TEST_F(ControlWindowTest, MessagesTheControlDoesNotClaimSendNothing) {
  EXPECT_EQ(SendMessageW(window_, WM_GETDLGCODE, 0, 0), DLGC_WANTARROWS | DLGC_WANTTAB);
  EXPECT_EQ(SendMessageW(window_, 0x2000 + WM_COMMAND, 1, 0), 0);
  // Not a reflected message: the offset is kept, so this is no WM_CLOSE.
  EXPECT_EQ(SendMessageW(window_, 0x2000 + WM_CLOSE, 0, 0), 0);
  EXPECT_TRUE(IsWindow(window_));
  SendMessageW(window_, WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
  SendMessageW(window_, WM_MOUSEWHEEL, 120 << 16, 0);
  SendMessageW(window_, WM_CHAR, 'a', 0x001E0001);
  EXPECT_EQ(Sent(), 0u);
  EXPECT_TRUE(control_->RemoteControlRunning());
}

TEST_F(ControlWindowTest, LosingTheFocusIsNoticedAndAPressTakesItBack) {
  SetFocus(window_);
  ASSERT_TRUE(kwz_platform::InjectFocusForTesting(window_, false));
  EXPECT_TRUE(PumpUntil([&] { return GetFocus() == nullptr; }));
  EXPECT_FALSE(control_->HasFocus());
  SendMessageW(window_, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(20, 20));
  EXPECT_EQ(GetFocus(), window_);
  EXPECT_TRUE(control_->HasFocus());
  EXPECT_EQ(Sent(), 1u);
}

}  // namespace
}  // namespace kwz_test
