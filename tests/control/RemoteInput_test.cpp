// Clicks and keys on the control's window, end to end on a private Xvfb with xdotool as the
// user, through X11's translation; the records reach a UDP listener on 127.0.0.1. The headless
// backend's injected input is compared with the browser's records in
// BrowserRemoteControl_control_test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/gdi_testing.h"
#include "tests/control/RemoteControlFixture.h"
#include "tests/support/XvfbServer.h"

// Last: Xlib's macros (None, Bool) clash with names in the headers above.
#include <X11/Xlib.h>

namespace kwz_test {
namespace {

// The window's top-left corner on the screen.
constexpr POINT kOrigin{100, 100};

class RemoteInputTest : public RemoteControlTest {
 protected:
  static XvfbServer& Server() {
    static XvfbServer server("1024x768x24");
    return server;
  }

  void SetUp() override {
    RemoteControlTest::SetUp();
    if (!Server().Running()) GTEST_SKIP() << "no Xvfb: " << Server().Error();
    if (std::system("command -v xdotool >/dev/null 2>&1") != 0) GTEST_SKIP() << "no xdotool";
    ASSERT_TRUE(kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kX11,
                                               Server().Display().c_str()));
    ASSERT_NE(control_->CreateControlWindow(
                  nullptr, RECT{kOrigin.x, kOrigin.y, kOrigin.x + 400, kOrigin.y + 300}),
              nullptr);
    window_ = control_->Window();
    ASSERT_TRUE(WaitViewable());
    ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  }
  void TearDown() override {
    if (control_ != nullptr && control_->Window() != nullptr) control_->DestroyControlWindow();
    kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless);
    RemoteControlTest::TearDown();
  }

  bool WaitViewable() {
    Display* display = XOpenDisplay(Server().Display().c_str());
    if (display == nullptr) return false;
    const Window xid = kwz_platform::X11WindowForTesting(window_);
    const bool viewable = PumpUntil([&] {
      XWindowAttributes attributes{};
      return XGetWindowAttributes(display, xid, &attributes) != 0 &&
             attributes.map_state == IsViewable;
    });
    XCloseDisplay(display);
    return viewable;
  }

  void Xdotool(const std::string& arguments) {
    const std::string command = "DISPLAY=" + Server().Display() + " xdotool " + arguments;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  // The pointer to a point of the screen.
  void MoveTo(POINT screen) {
    Xdotool("mousemove " + std::to_string(screen.x) + " " + std::to_string(screen.y));
  }

  // times clicks of button (X's numbering) close enough to make the second a double-click.
  void Click(unsigned button, int times) {
    Xdotool("click --repeat " + std::to_string(times) + " --delay 80 " + std::to_string(button));
  }

  HWND window_ = nullptr;
};

TEST_F(RemoteInputTest, ClicksTakeTheFocusAndSendTheirButtonBits) {
  MoveTo(POINT{150, 130});
  ASSERT_NE(GetFocus(), window_);
  Click(1, 2);
  Click(3, 2);
  const std::vector<InputRecord> records = RecordsThenResend(8);
  EXPECT_EQ(GetFocus(), window_);
  std::vector<DWORD> buttons;
  for (const InputRecord& r : records) {
    buttons.push_back(r.buttons);
    EXPECT_EQ(r, MouseRecord(50, 30, r.buttons));  // the pointer's offset in the window
  }
  // The left double-click has a bit of its own; the right one is sent as a second press.
  EXPECT_EQ(buttons, (std::vector<DWORD>{0x2, 0x1, 0x4, 0x1, 0x21, 0x11, 0x21, 0x11}));
  // The re-send repeats the last state, at the pointer's new place.
  MoveTo(POINT{300, 300});
  EXPECT_EQ(Resend(), MouseRecord(200, 200, 0x11));
}

TEST_F(RemoteInputTest, TypedKeysArriveAsKeyboardRecords) {
  MoveTo(POINT{200, 200});
  Click(1, 1);  // for the keyboard focus
  ASSERT_EQ(RecordsThenResend(2).size(), 2u);
  Xdotool("key a keydown Control_L key a keyup Control_L key Left key Tab key Alt_L key F1");
  const std::vector<InputRecord> expected = {
      KeyRecord(0x0102, 0x61, 0x001E0001),  // a; its release sends nothing
      KeyRecord(0x0102, 0x01, 0x021E0001),  // Ctrl+a: bit 25; Ctrl itself is not sent
      KeyRecord(0x0100, 0x25, 0x014B0001),  // Left: extended
      KeyRecord(0x0100, 0x25, 0xC14B0001),  // its release
      KeyRecord(0x0102, 0x09, 0x000F0001),  // Tab reaches the control
      KeyRecord(0x0100, 0x12, 0x20380001),  // Alt alone, as a system key
      KeyRecord(0x0100, 0x70, 0x003B0001),  // F1 has no character: the key itself
  };
  EXPECT_EQ(RecordsThenResend(expected.size()), expected);
}

}  // namespace
}  // namespace kwz_test
