// Remote control under a private Xvfb, driven by xdotool as a user would: clicks and keys on the
// control's X window become the records that a UDP listener on 127.0.0.1 receives.
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

class RemoteControlX11Test : public ControlTest {
 protected:
  static void SetUpTestSuite() {
    static XvfbServer server("1024x768x24");
    server_ = &server;
  }

  void SetUp() override {
    ControlTest::SetUp();
    if (!server_->Running()) GTEST_SKIP() << "no Xvfb: " << server_->Error();
    if (std::system("command -v xdotool >/dev/null 2>&1") != 0) GTEST_SKIP() << "no xdotool";
    ASSERT_TRUE(kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kX11,
                                               server_->Display().c_str()));
    ASSERT_TRUE(records_.ok());
    Script s = script();
    ASSERT_EQ(s.PutText(u"ServerAddress", u"127.0.0.1").hr, S_OK);
    ASSERT_EQ(s.PutText(u"ServerPort", Widen(std::to_string(records_.port()).c_str())).hr, S_OK);
    ASSERT_NE(control_->CreateControlWindow(nullptr, RECT{100, 100, 500, 400}), nullptr);
    window_ = control_->Window();
    ASSERT_TRUE(WaitViewable());
    ASSERT_EQ(control_->StartRemoteControl(), S_OK);
  }
  void TearDown() override {
    if (control_ != nullptr && control_->Window() != nullptr) control_->DestroyControlWindow();
    kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless);
    ControlTest::TearDown();
  }

  bool WaitViewable() {
    Display* display = XOpenDisplay(server_->Display().c_str());
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

  // Runs xdotool on the private display, pumping this thread's messages meanwhile so that a
  // window of this thread answers whatever xdotool waits for.
  void Xdotool(const std::string& arguments) {
    const std::string command = "DISPLAY=" + server_->Display() + " xdotool " + arguments;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  // Every record that arrives while this thread's messages run for ms.
  std::vector<InputRecord> Collect(int ms) {
    std::vector<InputRecord> all;
    PumpUntil(
        [&] {
          std::vector<std::uint8_t> datagram;
          while (records_.Receive(&datagram, 0)) {
            InputRecord record;
            if (ReadInputRecord(datagram.data(), datagram.size(), &record) ==
                InputRecordError::kNone) {
              all.push_back(record);
            }
          }
          return false;
        },
        ms);
    return all;
  }

  // The button states in order, each change once (re-sends repeat the last one).
  static std::vector<DWORD> ButtonChanges(const std::vector<InputRecord>& records) {
    std::vector<DWORD> changes;
    for (const InputRecord& r : records) {
      if (r.type != kInputRecordMouse) continue;
      if (changes.empty() || changes.back() != r.buttons) changes.push_back(r.buttons);
    }
    return changes;
  }
  static std::vector<InputRecord> Keys(const std::vector<InputRecord>& records) {
    std::vector<InputRecord> keys;
    for (const InputRecord& r : records) {
      if (r.type == kInputRecordKeyboard) keys.push_back(r);
    }
    return keys;
  }

  // Clicks into the window, so that it has the keyboard focus for the keys that follow.
  void FocusByClick() {
    Xdotool("mousemove 200 200 click 1");
    ASSERT_TRUE(PumpUntil([&] { return GetFocus() == window_; }, 5000));
  }

  static XvfbServer* server_;
  UdpCollector records_;
  HWND window_ = nullptr;
};

XvfbServer* RemoteControlX11Test::server_ = nullptr;

InputRecord KeyRecord(WORD message, DWORD wParam, DWORD lParam) {
  return InputRecord{0, 0, 0, kInputRecordKeyboard, 0, message, wParam, lParam};
}

TEST_F(RemoteControlX11Test, ClicksGiveTheFocusAndTheirButtonBits) {
  Xdotool("mousemove 150 130");
  EXPECT_NE(GetFocus(), window_);
  Xdotool("click 1");
  std::vector<InputRecord> records = Collect(600);
  EXPECT_EQ(GetFocus(), window_);
  EXPECT_EQ(ButtonChanges(records), (std::vector<DWORD>{0x0, 0x2, 0x1}));
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.back().x, 50);  // the pointer's offset in the window
  EXPECT_EQ(records.back().y, 30);

  Xdotool("sleep 0.6 click --repeat 2 --delay 80 1");
  EXPECT_EQ(ButtonChanges(Collect(600)), (std::vector<DWORD>{0x1, 0x2, 0x1, 0x4, 0x1}));
  Xdotool("sleep 0.6 click --repeat 2 --delay 80 3");
  EXPECT_EQ(ButtonChanges(Collect(600)), (std::vector<DWORD>{0x1, 0x21, 0x11, 0x21, 0x11}));
}

TEST_F(RemoteControlX11Test, TypedKeysArriveAsKeyboardRecords) {
  FocusByClick();
  Collect(200);
  Xdotool("key a");
  Xdotool("key ctrl+a");
  Xdotool("key Left");
  Xdotool("key Tab");
  Xdotool("key alt");
  const std::vector<InputRecord> keys = Keys(Collect(800));
  const std::vector<InputRecord> expected = {
      KeyRecord(0x0102, 0x61, 0x001E0001),  // a, its release sends nothing
      KeyRecord(0x0102, 0x01, 0x021E0001),  // Ctrl+a: bit 25
      KeyRecord(0x0100, 0x25, 0x014B0001),  // Left: extended
      KeyRecord(0x0100, 0x25, 0xC14B0001),  // its release
      KeyRecord(0x0102, 0x09, 0x000F0001),  // Tab reaches the control
      KeyRecord(0x0100, 0x12, 0x20380001),  // Alt alone, as a system key
  };
  EXPECT_EQ(keys, expected);
}

TEST_F(RemoteControlX11Test, TheMouseRecordIsResentWhileNothingHappens) {
  Xdotool("mousemove 300 300");
  Collect(200);
  const std::vector<InputRecord> records = Collect(1500);
  int mouse = 0;
  for (const InputRecord& r : records) {
    if (r.type != kInputRecordMouse) continue;
    ++mouse;
    EXPECT_EQ(r.x, 200);
    EXPECT_EQ(r.y, 200);
  }
  // About 15 in 1.5 s; loose bounds for a loaded machine.
  EXPECT_GE(mouse, 6);
  EXPECT_LE(mouse, 20);
}

}  // namespace
}  // namespace kwz_test
