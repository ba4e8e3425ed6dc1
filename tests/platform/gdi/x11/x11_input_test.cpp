// Input on the X11 backend under a private Xvfb where the control's tests (clicks and keys
// through xdotool) do not reach: the focus and Caps Lock changed by another client, and
// characters typed through SendInput, checked as the server takes them with the RECORD
// extension.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/gdi_testing.h"
#include "platform/kernel.h"
#include "platform/sendinput.h"
#include "platform/winuser.h"
#include "tests/support/WaitUntil.h"
#include "tests/support/XvfbServer.h"

// Last: Xlib defines macros (None, Bool) that other headers use as names.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/record.h>
#include <X11/keysym.h>
#include <poll.h>

namespace {

class X11InputTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static kwz_test::XvfbServer server;
    server_ = &server;
  }
  void SetUp() override {
    if (!server_->Running()) GTEST_SKIP() << "X11 suite skipped: " << server_->Error();
    ASSERT_TRUE(kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kX11,
                                               server_->Display().c_str()));
  }

  // Runs a program (xdotool, setxkbmap) against the private server and waits for it.
  static void Run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env{"DISPLAY=" + server_->Display()};
    std::vector<char*> envp{env[0].data(), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()), 0)
        << "is " << args[0] << " installed?";
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << args[0] << " " << args[1];
  }

  static kwz_test::XvfbServer* server_;
};

kwz_test::XvfbServer* X11InputTest::server_ = nullptr;

// Another client takes the focus, and Caps Lock is switched on while it has it; xdotool gives
// the focus back. The keyboard is the server's when the focus comes back.
TEST_F(X11InputTest, FocusAndCapsLockFollowTheServer) {
  HWND window = CreateWindowExW(0, u"STATIC", u"", WS_POPUP | WS_VISIBLE, 40, 30, 200, 100, nullptr,
                                nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  // PeekMessageW reads the connection too: the events come without a message of their own.
  auto pumpUntil = [](const std::function<bool()>& done) {
    return kwz_test::WaitUntil([&] {
      for (MSG m; PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);) DispatchMessageW(&m);
      return done();
    });
  };
  SetFocus(window);
  Display* other = XOpenDisplay(server_->Display().c_str());
  ASSERT_NE(other, nullptr);
  const Window foreign =
      XCreateSimpleWindow(other, DefaultRootWindow(other), 300, 300, 50, 50, 0, 0, 0);
  XMapWindow(other, foreign);
  XSync(other, False);
  Run({"xdotool", "windowfocus", "--sync", std::to_string(foreign)});
  ASSERT_TRUE(pumpUntil([] { return GetFocus() == nullptr; }));
  Run({"xdotool", "key", "Caps_Lock"});
  Run({"xdotool", "windowfocus", "--sync",
       std::to_string(kwz_platform::X11WindowForTesting(window))});
  ASSERT_TRUE(pumpUntil([&] { return GetFocus() == window; }));
  EXPECT_EQ(GetKeyState(VK_CAPITAL), 1) << "toggled, not down";
  XkbLockModifiers(other, XkbUseCoreKbd, LockMask, 0);  // off for the tests after this one
  XDestroyWindow(other, foreign);
  XCloseDisplay(other);
  DestroyWindow(window);
}

// What the server processed while the recording ran, in its order: key presses and releases with
// the modifier and group state they had, and the keymap changes that clients made.
class KeyboardRecording {
 public:
  explicit KeyboardRecording(const std::string& name)
      : control_(XOpenDisplay(name.c_str())), data_(XOpenDisplay(name.c_str())) {
    if (control_ == nullptr || data_ == nullptr) return;
    XRecordRange* ranges[2] = {XRecordAllocRange(), XRecordAllocRange()};
    ranges[0]->device_events = {KeyPress, KeyPress};
    ranges[0]->core_requests = {kChangeKeyboardMapping, kChangeKeyboardMapping};
    ranges[1]->core_requests = {kNoOperation, kNoOperation};  // the end marker of Finish
    XRecordClientSpec clients = XRecordAllClients;
    context_ = XRecordCreateContext(control_, 0, &clients, 1, ranges, 2);
    XFree(ranges[0]);
    XFree(ranges[1]);
    XSync(control_, False);
    if (context_ != 0 &&
        XRecordEnableContextAsync(data_, context_, &Intercept, reinterpret_cast<XPointer>(this))) {
      Await([this] { return recording_; });
    }
  }
  ~KeyboardRecording() {
    if (context_ != 0) {
      // The data connection answers nothing else until its recording has ended.
      XRecordDisableContext(control_, context_);
      XSync(control_, False);
      if (recording_) Await([this] { return ended_; });
      XRecordFreeContext(control_, context_);
    }
    if (data_ != nullptr) XCloseDisplay(data_);
    if (control_ != nullptr) XCloseDisplay(control_);
  }
  KeyboardRecording(const KeyboardRecording&) = delete;
  KeyboardRecording& operator=(const KeyboardRecording&) = delete;

  bool started() const { return recording_; }
  Display* display() const { return control_; }

  // Waits until everything sent before the call has been recorded.
  bool Finish() {
    XNoOp(control_);
    XSync(control_, False);
    return Await([this] { return marked_; });
  }

  // The symbols of the keys pressed, modifier keys left out, each read in the keymap as it was
  // at the press. A keycode lent by a mapping change gives its symbol without Shift or Lock.
  std::vector<KeySym> typed;

 private:
  // Raw protocol: Xproto.h's BOOL clashes with the Windows one.
  static constexpr unsigned char kChangeKeyboardMapping = 100;  // keycode at byte 4, symbols at 8
  static constexpr unsigned char kNoOperation = 127;
  static constexpr size_t kEventStateOffset = 28;

  static void Intercept(XPointer closure, XRecordInterceptData* data) {
    auto* self = reinterpret_cast<KeyboardRecording*>(closure);
    const unsigned char* bytes = data->data;
    if (data->category == XRecordStartOfData) {
      self->recording_ = true;
    } else if (data->category == XRecordEndOfData) {
      self->ended_ = true;
    } else if (data->category == XRecordFromServer && (bytes[0] & 0x7F) == KeyPress) {
      XKeyEvent key{};
      key.type = KeyPress;
      key.display = self->control_;
      key.keycode = bytes[1];
      std::uint16_t state = 0;
      std::memcpy(&state, bytes + kEventStateOffset, sizeof state);
      key.state = state;
      KeySym sym = NoSymbol;
      if (auto it = self->lent_.find(key.keycode); it != self->lent_.end()) {
        if ((state & (ShiftMask | LockMask)) == 0) sym = it->second;
      } else {
        char text[16];
        XLookupString(&key, text, sizeof text, &sym, nullptr);
      }
      if (!IsModifierKey(sym)) self->typed.push_back(sym);
    } else if (data->category == XRecordFromClient && bytes[0] == kNoOperation) {
      self->marked_ = true;
    } else if (data->category == XRecordFromClient && bytes[0] == kChangeKeyboardMapping) {
      std::uint32_t sym = 0;
      std::memcpy(&sym, bytes + 8, sizeof sym);
      if (sym == NoSymbol) {
        self->lent_.erase(bytes[4]);  // given back
      } else {
        self->lent_[bytes[4]] = sym;
      }
    }
    XRecordFreeData(data);
  }

  bool Await(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < end) {
      pollfd p{ConnectionNumber(data_), POLLIN, 0};
      poll(&p, 1, 100);
      XRecordProcessReplies(data_);
    }
    return done();
  }

  Display* control_;
  Display* data_;
  XRecordContext context_ = 0;
  bool recording_ = false;
  bool marked_ = false;
  bool ended_ = false;
  std::map<unsigned, KeySym> lent_;
};

std::vector<KeySym> CoreKeymap(Display* display) {
  int first = 0, last = 0, perKey = 0;
  XDisplayKeycodes(display, &first, &last);
  KeySym* syms =
      XGetKeyboardMapping(display, static_cast<KeyCode>(first), last - first + 1, &perKey);
  std::vector<KeySym> keymap(syms, syms + (last - first + 1) * perKey);
  XFree(syms);
  return keymap;
}

// Characters typed through SendInput on a presenter with the given layout and Caps Lock: the key
// pressed gives the character, and the keyboard is left as it was.
TEST_F(X11InputTest, SendInputTypesCharactersAndLeavesTheKeyboardAsItWas) {
  struct Case {
    const char* name;
    const char* layout;  // for setxkbmap
    bool capsLock;
    char16_t character;
    KeySym typed;  // the symbol the key pressed gives
  };
  for (const Case& c : {Case{"AtOnGermanThirdLevel", "de", false, u'@', XK_at},
                        Case{"LowerWithCapsLock", "us", true, u'a', XK_a},
                        Case{"InAnotherGroup", "us,ru", false, u'\u0436', XK_Cyrillic_zhe},
                        Case{"NotInTheKeymap", "us", false, u'\u0436', 0x1000436}}) {
    SCOPED_TRACE(c.name);
    Run({"setxkbmap", "-layout", c.layout});
    KeyboardRecording recording(server_->Display());
    ASSERT_TRUE(recording.started()) << "no RECORD extension?";
    Display* display = recording.display();
    XkbLockModifiers(display, XkbUseCoreKbd, LockMask, c.capsLock ? LockMask : 0);
    const std::vector<KeySym> keymap = CoreKeymap(display);
    XkbStateRec before{};
    XkbGetState(display, XkbUseCoreKbd, &before);

    INPUT inputs[2]{};
    inputs[0].type = INPUT_KEYBOARD;
    inputs[0].ki.wScan = c.character;
    inputs[0].ki.dwFlags = KEYEVENTF_UNICODE;
    inputs[1] = inputs[0];
    inputs[1].ki.dwFlags |= KEYEVENTF_KEYUP;
    EXPECT_EQ(SendInput(2, inputs, sizeof(INPUT)), 2u);
    ASSERT_TRUE(recording.Finish());

    EXPECT_EQ(recording.typed, std::vector<KeySym>{c.typed});
    XkbStateRec after{};
    XkbGetState(display, XkbUseCoreKbd, &after);
    EXPECT_EQ(after.locked_mods, before.locked_mods);
    EXPECT_EQ(after.locked_group, before.locked_group);
    EXPECT_EQ(after.base_mods, 0u);
    char down[32];
    XQueryKeymap(display, down);
    EXPECT_EQ(std::string(down, sizeof down), std::string(sizeof down, '\0')) << "keys left down";
    EXPECT_EQ(CoreKeymap(display), keymap) << "the keymap is as it was";
    XkbLockModifiers(display, XkbUseCoreKbd, LockMask, 0);
  }
  Run({"setxkbmap", "-layout", "us"});
}

}  // namespace
