// The same clicks and keys given to the control's window (through the headless backend's input,
// which goes through the platform's key translation as X11's does) and to the browser's side
// give the same records.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <vector>

#include "platform/gdi_testing.h"
#include "tests/control/RemoteControlFixture.h"
#include "tests/web/BrowserKeyEvents.h"
#include "web/BrowserRemoteControl.h"

namespace kwz_test {
namespace {

using kwz_web::BrowserKey;
using kwz_web::BrowserPointer;
using kwz_web::PointerAction;
using kwz_web::PointerButton;

constexpr std::uint8_t kCtrl = kwz_web::kModifierCtrl;
constexpr std::uint8_t kAlt = kwz_web::kModifierAlt;
constexpr std::uint8_t kShift = kwz_web::kModifierShift;

// One key press or release, as the window gets it and as the page reports it; one button press
// or release at (30, 40), X's button number with what the page reports.
struct KeyStep {
  unsigned evdev;
  BrowserKey browser;
};
struct ButtonStep {
  unsigned button;
  BrowserPointer browser;
};

constexpr int kX = 30;
constexpr int kY = 40;

BrowserPointer Button(PointerAction action, PointerButton button) {
  return BrowserPointer{action, button, kX, kY};
}

using BrowserRemoteControlEquivalence = RemoteControlTest;

TEST_F(BrowserRemoteControlEquivalence, TheBrowserSendsWhatTheControlSends) {
  const std::vector<KeyStep> keys = {
      {KEY_LEFTSHIFT, BrowserKeyEvent("ShiftLeft", true, kShift)},
      {KEY_1, BrowserKeyEvent("Digit1", true, kShift, u"!")},
      {KEY_1, BrowserKeyEvent("Digit1", false, kShift, u"!")},
      {KEY_LEFTSHIFT, BrowserKeyEvent("ShiftLeft", false)},
      {KEY_RIGHTCTRL, BrowserKeyEvent("ControlRight", true, kCtrl)},
      {KEY_LEFTBRACE, BrowserKeyEvent("BracketLeft", true, kCtrl, u"[")},
      {KEY_LEFTBRACE, BrowserKeyEvent("BracketLeft", false, kCtrl, u"[")},
      {KEY_RIGHTCTRL, BrowserKeyEvent("ControlRight", false)},
      {KEY_LEFTALT, BrowserKeyEvent("AltLeft", true, kAlt)},
      {KEY_F, BrowserKeyEvent("KeyF", true, kAlt, u"f")},
      {KEY_F, BrowserKeyEvent("KeyF", false, kAlt, u"f")},
      {KEY_LEFTALT, BrowserKeyEvent("AltLeft", false)},
      {KEY_F10, BrowserKeyEvent("F10", true)},
      {KEY_F10, BrowserKeyEvent("F10", false)},
      {KEY_LEFT, BrowserKeyEvent("ArrowLeft", true)},
      {KEY_LEFT, BrowserKeyEvent("ArrowLeft", false)},
      {KEY_KP7, BrowserKeyEvent("Numpad7", true)},
      {KEY_KPENTER, BrowserKeyEvent("NumpadEnter", true)},
      {KEY_KPENTER, BrowserKeyEvent("NumpadEnter", false)},
  };
  const std::vector<ButtonStep> buttons = {
      {1, Button(PointerAction::kDown, PointerButton::kLeft)},
      {1, Button(PointerAction::kUp, PointerButton::kLeft)},
      {1, Button(PointerAction::kDoubleClick, PointerButton::kLeft)},
      {1, Button(PointerAction::kUp, PointerButton::kLeft)},
      {3, Button(PointerAction::kDown, PointerButton::kRight)},
      {3, Button(PointerAction::kUp, PointerButton::kRight)},
      {3, Button(PointerAction::kDoubleClick, PointerButton::kRight)},
      {3, Button(PointerAction::kUp, PointerButton::kRight)},
  };

  std::vector<InputRecord> fromBrowser;
  kwz_web::BrowserRemoteControl browser(
      [&](const InputRecord& record) { fromBrowser.push_back(record); });
  browser.SetScreenSize(640, 480);
  browser.Start();
  for (const KeyStep& step : keys) browser.OnKey(step.browser);
  for (const ButtonStep& step : buttons) browser.OnPointer(step.browser);

  UseTunnel();
  CreateWindow(640, 480);
  kwz_platform::SetHeadlessScreen({}, 0, 0, POINT{kX, kY});
  ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  RecordingTunnel* tunnel = factory_.Sender();
  ASSERT_NE(tunnel, nullptr);
  const HWND window = control_->Window();
  // The re-send thread sends only when told: every record is the window's.
  auto sent = [&] {
    std::vector<InputRecord> records;
    for (const RecordingTunnel::Sent& s : tunnel->SentAll()) records.push_back(s.record);
    return records;
  };
  for (const KeyStep& step : keys) {
    ASSERT_TRUE(kwz_platform::InjectKeyForTesting(window, step.evdev, step.browser.down));
  }
  // Two clicks within the double-click time make the second press a double-click.
  DWORD time = 1000;
  for (const ButtonStep& step : buttons) {
    ASSERT_TRUE(kwz_platform::InjectButtonForTesting(
        window, step.button, step.browser.action != PointerAction::kUp, POINT{kX, kY}, time += 10));
  }
  PumpUntil([&] { return sent().size() >= fromBrowser.size(); });
  EXPECT_EQ(sent(), fromBrowser);
  ASSERT_EQ(control_->EndRemoteControl(), S_OK);
}

}  // namespace
}  // namespace kwz_test
