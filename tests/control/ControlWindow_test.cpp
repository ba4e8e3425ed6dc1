// The control window's messages in their order of precedence: painting that only erases,
// reflected notifications, the dialog code, the focus a click takes, and keys and buttons that
// arrive as the platform delivers them from the keyboard and the pointer.
#include <gtest/gtest.h>

#include <linux/input-event-codes.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/gdi.h"
#include "platform/gdi_session.h"
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
    tunnel_ = factory_.Instance(0);
    ASSERT_NE(tunnel_, nullptr);
  }

  // The records the window's messages sent (the re-send thread's are left out).
  std::vector<InputRecord> Sent() { return tunnel_->SentBy(GetCurrentThreadId()); }

  // Runs this thread's messages until count records were sent by them, then a little longer
  // so that one too many would show.
  std::vector<InputRecord> PumpForRecords(std::size_t count) {
    PumpUntil([&] { return Sent().size() >= count; }, 5000);
    PumpUntil([] { return false; }, 100);
    return Sent();
  }

  void Key(unsigned evdev, bool down) {
    ASSERT_TRUE(kwz_platform::InjectKeyForTesting(window_, evdev, down));
  }

  HWND window_ = nullptr;
  RecordingTunnel* tunnel_ = nullptr;
};

InputRecord KeyRecord(WORD message, DWORD wParam, DWORD lParam) {
  return InputRecord{0, 0, 0, kInputRecordKeyboard, 0, message, wParam, lParam};
}

TEST_F(ControlWindowTest, AsksTheDialogForArrowAndTabKeysAndSendsNothingForIt) {
  EXPECT_EQ(SendMessageW(window_, WM_GETDLGCODE, 0, 0), DLGC_WANTARROWS | DLGC_WANTTAB);
  EXPECT_TRUE(Sent().empty());
}

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

TEST_F(ControlWindowTest, ReflectedNotificationsAreAnsweredAsTheOriginalMessages) {
  EXPECT_EQ(SendMessageW(window_, 0x2000 + WM_COMMAND, 1, 0), 0);
  EXPECT_EQ(SendMessageW(window_, 0x2000 + WM_CTLCOLORSTATIC, 0, 0), 0);
  // Not a reflected message: the offset is kept, so this is no WM_CLOSE.
  EXPECT_EQ(SendMessageW(window_, 0x2000 + WM_CLOSE, 0, 0), 0);
  EXPECT_TRUE(IsWindow(window_));
  EXPECT_TRUE(control_->RemoteControlRunning());
}

TEST_F(ControlWindowTest, MovesWheelSizeAndCharactersTakeTheDefaultPathAndSendNothing) {
  SendMessageW(window_, WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
  SendMessageW(window_, WM_MOUSEWHEEL, 120 << 16, 0);
  SendMessageW(window_, WM_CHAR, 'a', 0x001E0001);
  SendMessageW(window_, WM_SIZE, 0, MAKELPARAM(10, 10));
  EXPECT_TRUE(Sent().empty());
}

TEST_F(ControlWindowTest, AClickGivesTheWindowTheFocusAndLosingItIsNoticed) {
  SetFocus(nullptr);
  ASSERT_EQ(GetFocus(), nullptr);
  kwz_platform::SetHeadlessScreen({}, 0, 0, POINT{20, 20});
  ASSERT_TRUE(kwz_platform::InjectButtonForTesting(window_, 1, true, POINT{20, 20}, 1000));
  ASSERT_TRUE(kwz_platform::InjectButtonForTesting(window_, 1, false, POINT{20, 20}, 1010));
  const std::vector<InputRecord> clicks = PumpForRecords(2);
  EXPECT_EQ(GetFocus(), window_);
  ASSERT_EQ(clicks.size(), 2u);
  EXPECT_EQ(clicks[0].buttons, 0x2u);
  EXPECT_EQ(clicks[1].buttons, 0x1u);

  // The focus goes elsewhere; the next press takes it back.
  ASSERT_TRUE(kwz_platform::InjectFocusForTesting(window_, false));
  PumpUntil([&] { return GetFocus() == nullptr; }, 2000);
  ASSERT_EQ(GetFocus(), nullptr);
  SendMessageW(window_, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(20, 20));
  EXPECT_EQ(GetFocus(), window_);
}

// Button presses as the pointer gives them: the platform makes a double-click of a second
// press close in time and place, for the control's class.
TEST_F(ControlWindowTest, DoubleClicksOfTheLeftAndRightButtons) {
  const POINT at{50, 60};
  kwz_platform::SetHeadlessScreen({}, 0, 0, at);
  DWORD time = 5000;
  for (unsigned button : {1u, 3u}) {
    for (int click = 0; click < 2; ++click) {
      ASSERT_TRUE(kwz_platform::InjectButtonForTesting(window_, button, true, at, time += 50));
      ASSERT_TRUE(kwz_platform::InjectButtonForTesting(window_, button, false, at, time += 50));
    }
    time += 2000;  // the next button's first press is no double-click
  }
  const std::vector<InputRecord> records = PumpForRecords(8);
  std::vector<DWORD> buttons;
  for (const InputRecord& r : records) buttons.push_back(r.buttons);
  EXPECT_EQ(buttons, (std::vector<DWORD>{0x2, 0x1, 0x4, 0x1, 0x21, 0x11, 0x21, 0x11}));
}

// Keys as the keyboard gives them, through the platform's keyboard state and layout.
struct KeyCase {
  const char* name;
  std::vector<std::pair<unsigned, bool>> keys;  // evdev code, pressed
  std::vector<InputRecord> records;
};

class KeysReachTheControl : public ControlWindowTest,
                            public ::testing::WithParamInterface<KeyCase> {};

TEST_P(KeysReachTheControl, AsTheseRecords) {
  for (const auto& [code, down] : GetParam().keys) Key(code, down);
  EXPECT_EQ(PumpForRecords(GetParam().records.size()), GetParam().records);
  // Keys never move the mouse record's buttons.
  for (const InputRecord& r : Sent()) EXPECT_EQ(r.buttons, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Control, KeysReachTheControl,
    ::testing::Values(
        // The letter a, and its release sends nothing.
        KeyCase{"Letter", {{KEY_A, true}, {KEY_A, false}}, {KeyRecord(0x0102, 0x61, 0x001E0001)}},
        // Ctrl+a: the control character with bit 25; Ctrl itself is not sent.
        KeyCase{"CtrlLetter",
                {{KEY_LEFTCTRL, true}, {KEY_A, true}, {KEY_A, false}, {KEY_LEFTCTRL, false}},
                {KeyRecord(0x0102, 0x01, 0x021E0001)}},
        // The Left arrow of the arrow block: extended; its release is sent too.
        KeyCase{"LeftArrow",
                {{KEY_LEFT, true}, {KEY_LEFT, false}},
                {KeyRecord(0x0100, 0x25, 0x014B0001), KeyRecord(0x0100, 0x25, 0xC14B0001)}},
        // Alt alone: a system key-down of VK_MENU; its system key-up sends nothing.
        KeyCase{"AltAlone",
                {{KEY_LEFTALT, true}, {KEY_LEFTALT, false}},
                {KeyRecord(0x0100, 0x12, 0x20380001)}},
        // Tab reaches the control as its character.
        KeyCase{"Tab", {{KEY_TAB, true}, {KEY_TAB, false}}, {KeyRecord(0x0102, 0x09, 0x000F0001)}},
        // F1 has no character: the key itself.
        KeyCase{"F1", {{KEY_F1, true}, {KEY_F1, false}}, {KeyRecord(0x0100, 0x70, 0x003B0001)}}),
    [](const ::testing::TestParamInfo<KeyCase>& info) { return info.param.name; });

}  // namespace
}  // namespace kwz_test
