// kwz-viewer under a window manager (openbox on a private Xvfb), as a user has it: a framed
// window that the desktop can find and name, moved, resized and closed by the user; a host
// window of another program that is moved and resized. Remote-control records must follow what
// the screen shows, which only a window manager's frames and moves put to the test.
#include <gtest/gtest.h>

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "network/InputRecord.h"
#include "presenter/SyntheticDesktop.h"
#include "tests/apps/PresenterPicture.h"
#include "tests/apps/X11ViewerSupport.h"
#include "tests/support/UdpCollector.h"
#include "tests/support/WindowManager.h"

namespace {

using namespace kwz_test;

bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// A desktop: the display, openbox on it, the module registered, and the test's connection.
struct Desktop {
  Desktop() : setup("1024x768x24"), manager(setup.server.Display()) {
    if (setup.server.Running() && manager.Running()) {
      display = XOpenDisplay(setup.server.Display().c_str());
    }
  }
  ~Desktop() {
    if (display != nullptr) XCloseDisplay(display);
  }
  std::string Problem() const {
    return !setup.server.Running() ? setup.server.Error() : manager.Error();
  }

  ViewerSetup setup;
  WindowManager manager;
  Display* display = nullptr;
};

std::string Utf8Property(Display* display, Window window, const char* name);

// Shown by the window manager: placed, framed and mapped, so that it moves the window no more
// of its own accord.
bool Managed(Display* display, Window window) {
  return IsMapped(display, window) && !Utf8Property(display, window, "WM_STATE").empty();
}

// The first window that xdotool finds for a search, as a user would look it up; 0 for none.
Window Search(const std::vector<std::string>& query) {
  std::vector<std::string> args{"search"};
  args.insert(args.end(), query.begin(), query.end());
  const ProgramResult found = RunProgram("xdotool", args, kTimeoutMs);
  return found.exitCode == 0 ? std::stoul(found.out) : 0;
}

std::string Utf8Property(Display* display, Window window, const char* name) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string value;
  if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1024, False,
                         AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
      data != nullptr) {
    value.assign(reinterpret_cast<char*>(data), count);
  }
  if (data != nullptr) XFree(data);
  return value;
}

std::vector<long> CardinalProperty(Display* display, Window window, const char* name) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::vector<long> values;
  if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 4, False,
                         AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
      data != nullptr && format == 32) {
    values.assign(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + count);
  }
  if (data != nullptr) XFree(data);
  return values;
}

POINT OnScreen(Display* display, Window window) {
  int x = 0, y = 0;
  Window child = 0;
  XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
  return POINT{x, y};
}

SIZE SizeOf(Display* display, Window window) {
  Window root = 0;
  int x = 0, y = 0;
  unsigned width = 0, height = 0, border = 0, depth = 0;
  XGetGeometry(display, window, &root, &x, &y, &width, &height, &border, &depth);
  return SIZE{static_cast<LONG>(width), static_cast<LONG>(height)};
}

// The control's window: the only child of the viewer's frame.
Window ControlOf(Display* display, Window frame) {
  const std::vector<Window> children = Children(display, frame);
  return children.size() == 1 ? children.front() : 0;
}

void Pointer(Display* display, int x, int y) {
  XWarpPointer(display, 0, DefaultRootWindow(display), 0, 0, 0, 0, x, y);
  XSync(display, False);
}

// The close button of the window manager's frame (as a pager or the user asks it: source 2).
void CloseFromTheWindowManager(Display* display, Window window) {
  SendClientMessage(display, DefaultRootWindow(display),
                    SubstructureRedirectMask | SubstructureNotifyMask, window, "_NET_CLOSE_WINDOW",
                    0, 2);
}

// The remote-control mouse records the viewer sends; each Next waits for a newer one.
class MouseRecords {
 public:
  std::uint16_t Port() const { return collector_.port(); }
  bool Next(InputRecord* record) {
    std::vector<std::uint8_t> datagram;
    while (collector_.Receive(&datagram, 5000)) {
      if (ReadInputRecord(datagram.data(), datagram.size(), record) == InputRecordError::kNone &&
          record->type == kInputRecordMouse) {
        return true;
      }
    }
    return false;
  }
  // Waits for a record at (x, y), give or take one.
  bool WaitFor(int x, int y) {
    InputRecord record{};
    for (int i = 0; i < 100 && Next(&record); ++i) {
      if (std::abs(record.x - x) <= 1 && std::abs(record.y - y) <= 1) return true;
    }
    return false;
  }

 private:
  UdpCollector collector_;
};

std::string PortFor(int slot) {
  // Even ports: the receiver keeps to RTP's rule that data comes on an even port.
  return std::to_string(47000 + 8 * (::getpid() % 400) + 2 * slot);
}

TEST(ViewerOnADesktop, FoundNamedMovedAndClosedAsAnyApplication) {
  Desktop desktop;
  if (desktop.display == nullptr) GTEST_SKIP() << desktop.Problem();
  ASSERT_EQ(desktop.setup.Register().exitCode, 0);
  Display* display = desktop.display;
  MouseRecords records;
  const std::string port = PortFor(0);
  RunningProgram presenter(KWZ_PRESENT_PATH, {"--mode", "zlib", "--dest", "127.0.0.1:" + port,
                                              "--size", "320x240", "--seconds", kBackstopSeconds});
  RunningProgram viewer(
      KWZ_VIEWER_PATH, {"--source-address", "127.0.0.1", "--source-port", port, "--size", "320x240",
                        "--remote-control", "--server-address", "127.0.0.1", "--server-port",
                        std::to_string(records.Port()), "--seconds", kBackstopSeconds});
  ASSERT_TRUE(viewer.Started() && presenter.Started());

  // Found by its process and by its class, as a task bar or a script finds it.
  Window frame = 0;
  ASSERT_TRUE(WaitUntil([&] {
    frame = Search({"--pid", std::to_string(viewer.Pid())});
    return frame != 0 && Managed(display, frame);
  })) << viewer.OutSoFar();
  EXPECT_EQ(Search({"--classname", "kwz-viewer"}), frame);
  EXPECT_EQ(Search({"--class", "KwzViewer"}), frame);
  XClassHint hint{};
  ASSERT_NE(XGetClassHint(display, frame, &hint), 0);
  EXPECT_STREQ(hint.res_name, "kwz-viewer");
  EXPECT_STREQ(hint.res_class, "KwzViewer");
  XFree(hint.res_name);
  XFree(hint.res_class);
  EXPECT_FALSE(Utf8Property(display, frame, "WM_CLIENT_MACHINE").empty());
  EXPECT_EQ(CardinalProperty(display, frame, "_NET_WM_ICON").size(), 4u);  // 32, 32, pixels...
  // The title names the source, then the shared screen once it arrives.
  const std::string named = "kwz-viewer \u2014 127.0.0.1:" + port + " \u2014 320\u00D7240";
  EXPECT_TRUE(WaitUntil([&] {
    return Utf8Property(display, frame, "_NET_WM_NAME").rfind(named, 0) == 0;
  })) << Utf8Property(display, frame, "_NET_WM_NAME");
  // openbox framed it: the frame's parent is the decoration, not the root.
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  XQueryTree(display, frame, &root, &parent, &children, &count);
  if (children != nullptr) XFree(children);
  EXPECT_NE(parent, root);

  // Moved by the user: records count from the control's corner where the screen shows it.
  const Window control = ControlOf(display, frame);
  ASSERT_NE(control, 0u);
  const POINT placed = OnScreen(display, control);
  XMoveWindow(display, frame, placed.x > 200 ? 100 : 300, 250);
  XSync(display, False);
  ASSERT_TRUE(WaitUntil([&] { return OnScreen(display, control).x != placed.x; }));
  const POINT corner = OnScreen(display, control);
  Pointer(display, corner.x + 10, corner.y + 10);
  EXPECT_TRUE(records.WaitFor(10, 10));
  // Outside the window the last position stays.
  Pointer(display, 5, 5);
  InputRecord record{};
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(records.Next(&record));
  }
  EXPECT_EQ(record.x, 10);
  EXPECT_EQ(record.y, 10);

  CloseFromTheWindowManager(display, frame);
  const ProgramResult ended = viewer.Wait(kTimeoutMs);
  EXPECT_EQ(ended.exitCode, 0) << ended.err;
  EXPECT_NE(ended.out.find("SizeUpdated 320 240"), std::string::npos);
}

constexpr int kStreamWidth = 640, kStreamHeight = 480, kStreamFrames = 40;

// Whether an RGB picture of a resized viewer shows the presenter's last frame: stretched over
// all of it, or at its own size in the corner with the class background (white) around it.
bool ShowsLastFrame(const std::vector<std::uint8_t>& shown, int width, int height, bool stretch) {
  if (shown.size() != static_cast<std::size_t>(width) * height * 3) return false;
  if (stretch) {
    // Compared with the frame sampled to the window's size: halftone averages where sampling
    // picks, so only a loose match is asked for; a cropped or misplaced picture is far off.
    const std::vector<std::uint8_t> bgra =
        SyntheticDesktop(kStreamWidth, kStreamHeight).Render(kStreamFrames - 1);
    double squared = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const std::size_t from =
            (static_cast<std::size_t>(y * kStreamHeight / height) * kStreamWidth +
             static_cast<std::size_t>(x * kStreamWidth / width)) *
            4;
        const std::size_t to = (static_cast<std::size_t>(y) * width + x) * 3;
        for (int k = 0; k < 3; ++k) {
          const double d = double(shown[to + k]) - double(bgra[from + 2 - k]);
          squared += d * d;
        }
      }
    }
    return 10 * std::log10(255.0 * 255.0 * 3 * width * height / std::max(squared, 1.0)) >= 18;
  }
  std::vector<std::uint8_t> corner(static_cast<std::size_t>(kStreamWidth) * kStreamHeight * 3);
  for (int y = 0; y < kStreamHeight; ++y) {
    std::copy_n(&shown[static_cast<std::size_t>(y) * width * 3], kStreamWidth * 3,
                &corner[static_cast<std::size_t>(y) * kStreamWidth * 3]);
  }
  const std::size_t beyond = (static_cast<std::size_t>(height - 1) * width + width - 1) * 3;
  return ComparePresenterPicture(corner, kStreamWidth, kStreamHeight, kStreamFrames - 1)
                 .mismatched == 0 &&
         (shown[beyond] & shown[beyond + 1] & shown[beyond + 2]) == 0xFF;
}

struct ResizeCase {
  bool stretch;
  SIZE resized;
};

class ViewerResizedOnADesktop : public ::testing::TestWithParam<ResizeCase> {};

// The user resizes the window: stretched, the picture fills the new size and records scale to
// it; at its own size, the picture stays in the corner with the class background around it.
TEST_P(ViewerResizedOnADesktop, ShowsThePictureAtTheNewSize) {
  Desktop desktop;
  if (desktop.display == nullptr) GTEST_SKIP() << desktop.Problem();
  ASSERT_EQ(desktop.setup.Register().exitCode, 0);
  Display* display = desktop.display;
  const ResizeCase& c = GetParam();
  MouseRecords records;
  TempDir dir;
  const std::string snapshot = std::string(dir.path()) + "/snapshot.png";
  const std::string port = PortFor(1);
  std::vector<std::string> args{"--source-address",
                                "127.0.0.1",
                                "--source-port",
                                port,
                                "--size",
                                "320x240",
                                "--remote-control",
                                "--server-address",
                                "127.0.0.1",
                                "--server-port",
                                std::to_string(records.Port()),
                                "--snapshot",
                                snapshot,
                                "--seconds",
                                kBackstopSeconds};
  if (c.stretch) args.push_back("--stretch");
  RunningProgram viewer(KWZ_VIEWER_PATH, args);
  Window frame = 0;
  ASSERT_TRUE(WaitUntil([&] {
    frame = Search({"--pid", std::to_string(viewer.Pid())});
    return frame != 0 && Managed(display, frame);
  })) << viewer.OutSoFar();

  RunningProgram presenter(KWZ_PRESENT_PATH,
                           {"--mode", "zlib", "--dest", "127.0.0.1:" + port, "--size", "640x480",
                            "--fps", "10", "--frames", std::to_string(kStreamFrames)});
  ASSERT_TRUE(viewer.WaitForOut("SizeUpdated 640 480\n", 20000)) << viewer.OutSoFar();
  // Stretched, the window keeps its size; else it takes the shared screen's first.
  const SIZE followed = c.stretch ? SIZE{320, 240} : SIZE{kStreamWidth, kStreamHeight};
  ASSERT_TRUE(WaitUntil([&] {
    const SIZE size = SizeOf(display, frame);
    return size.cx == followed.cx && size.cy == followed.cy;
  }));
  XResizeWindow(display, frame, static_cast<unsigned>(c.resized.cx),
                static_cast<unsigned>(c.resized.cy));
  XSync(display, False);
  Window control = 0;
  ASSERT_TRUE(WaitUntil([&] {
    control = ControlOf(display, frame);
    const SIZE size = control != 0 ? SizeOf(display, control) : SIZE{};
    return size.cx == c.resized.cx && size.cy == c.resized.cy;
  })) << "the control does not cover the resized window";

  const POINT corner = OnScreen(display, control);
  Pointer(display, corner.x + c.resized.cx / 2, corner.y + c.resized.cy / 2);
  if (c.stretch) {
    EXPECT_TRUE(records.WaitFor(kStreamWidth / 2, kStreamHeight / 2));
  } else {
    EXPECT_TRUE(records.WaitFor(c.resized.cx / 2, c.resized.cy / 2));
  }

  EXPECT_EQ(presenter.Wait(kTimeoutMs).exitCode, 0);
  // The last frame shown, as the server has it, then as the snapshot has it.
  const int width = c.resized.cx, height = c.resized.cy;
  ASSERT_TRUE(WaitUntil([&] {
    return ShowsLastFrame(Screenshot(display, control, width, height), width, height, c.stretch);
  }));
  CloseFromTheWindowManager(display, frame);
  ASSERT_EQ(viewer.Wait(kTimeoutMs).exitCode, 0);
  int snapshotWidth = 0, snapshotHeight = 0;
  const std::vector<std::uint8_t> shown = ReadPngRgb(snapshot, &snapshotWidth, &snapshotHeight);
  ASSERT_EQ(snapshotWidth, width);
  ASSERT_EQ(snapshotHeight, height);
  EXPECT_TRUE(ShowsLastFrame(shown, width, height, c.stretch));
}

INSTANTIATE_TEST_SUITE_P(Sizes, ViewerResizedOnADesktop,
                         ::testing::Values(ResizeCase{true, SIZE{480, 360}},
                                           ResizeCase{false, SIZE{800, 600}}),
                         [](const auto& info) {
                           return std::string(info.param.stretch ? "Stretched" : "ActualSize");
                         });

// Embedded with --parent in another program's window, which that program moves and resizes.
TEST(ViewerInAHostOnADesktop, FollowsItsHostWhereverItGoes) {
  Desktop desktop;
  if (desktop.display == nullptr) GTEST_SKIP() << desktop.Problem();
  ASSERT_EQ(desktop.setup.Register().exitCode, 0);
  Display* display = desktop.display;
  const Window host =
      XCreateSimpleWindow(display, DefaultRootWindow(display), 100, 100, 400, 300, 0, 0, 0);
  XMapWindow(display, host);
  XSync(display, False);
  ASSERT_TRUE(WaitUntil([&] { return Managed(display, host); }));
  MouseRecords records;
  RunningProgram viewer(
      KWZ_VIEWER_PATH,
      {"--source-address", "127.0.0.1", "--source-port", PortFor(2), "--parent",
       std::to_string(host), "--remote-control", "--server-address", "127.0.0.1", "--server-port",
       std::to_string(records.Port()), "--seconds", kBackstopSeconds});
  Window frame = 0;
  ASSERT_TRUE(WaitUntil([&] {
    const std::vector<Window> inside = Children(display, host);
    frame = inside.size() == 1 && IsMapped(display, inside.front()) ? inside.front() : 0;
    return frame != 0 && ControlOf(display, frame) != 0;
  })) << viewer.OutSoFar();
  EXPECT_EQ(SizeOf(display, frame).cx, 400);

  const POINT placed = OnScreen(display, host);
  XResizeWindow(display, host, 500, 350);
  XMoveWindow(display, host, placed.x > 200 ? 100 : 300, 260);
  XSync(display, False);
  const Window control = ControlOf(display, frame);
  ASSERT_TRUE(WaitUntil([&] {
    const SIZE size = SizeOf(display, control);
    return size.cx == 500 && size.cy == 350 && OnScreen(display, host).x != placed.x;
  })) << "the viewer does not follow its host's size";
  const POINT corner = OnScreen(display, control);
  Pointer(display, corner.x + 10, corner.y + 10);
  EXPECT_TRUE(records.WaitFor(10, 10));

  viewer.Interrupt();
  EXPECT_EQ(viewer.Wait(kTimeoutMs).exitCode, 0);
  XDestroyWindow(display, host);
}

// The keys typed into a window of its own on another display, which holds that display's focus:
// what a program on the presenter's desktop receives.
class KeyCatcher {
 public:
  explicit KeyCatcher(Display* display) : display_(display) {
    window_ = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 200, 200, 0, 0, 0);
    XSelectInput(display, window_, KeyPressMask | ExposureMask);
    XMapWindow(display, window_);
    XSync(display, False);
  }
  bool Focused() {
    XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
    XSync(display_, False);
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display_, &focus, &revert);
    return focus == window_;
  }
  // The next character typed, as the display's own keymap reads it; 0 when none comes.
  KeySym NextCharacter() {
    bool found = false;
    KeySym symbol = NoSymbol;
    WaitUntil([&] {
      while (!found && XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type != KeyPress) continue;
        char text[8];
        if (XLookupString(&event.xkey, text, sizeof text, &symbol, nullptr) > 0) found = true;
      }
      return found;
    });
    return found ? symbol : NoSymbol;
  }

 private:
  Display* display_;
  Window window_ = 0;
};

// AltGr+Q on a German keyboard at the viewer is '@' on the presenter's desktop, whatever its
// layout puts '@' on (the third level of Q on a German one, Shift+2 on a US one).
class RemoteTypingAcrossLayouts : public ::testing::TestWithParam<const char*> {};

TEST_P(RemoteTypingAcrossLayouts, AltGrCharacterArrivesAsTheCharacter) {
  Desktop viewerDesktop;
  if (viewerDesktop.display == nullptr) GTEST_SKIP() << viewerDesktop.Problem();
  ASSERT_EQ(viewerDesktop.setup.Register().exitCode, 0);
  XvfbServer presenterServer("640x480x24");
  ASSERT_TRUE(presenterServer.Running()) << presenterServer.Error();
  // Connections stay open from here on: a display left with no client goes back to its
  // default keymap.
  Display* presenterDisplay = XOpenDisplay(presenterServer.Display().c_str());
  ASSERT_NE(presenterDisplay, nullptr);
  KeyCatcher catcher(presenterDisplay);
  ASSERT_EQ(RunProgram("setxkbmap", {"-display", presenterServer.Display(), GetParam()}, kTimeoutMs)
                .exitCode,
            0);
  ASSERT_EQ(
      RunProgram("setxkbmap", {"-display", viewerDesktop.setup.server.Display(), "de"}, kTimeoutMs)
          .exitCode,
      0);
  ASSERT_TRUE(WaitUntil([&] { return catcher.Focused(); }));

  const std::string port = PortFor(3), remote = PortFor(4);
  RunningProgram presenter(KWZ_PRESENT_PATH, {"--source", "x11:" + presenterServer.Display(),
                                              "--dest", "127.0.0.1:" + port, "--remote-port",
                                              remote, "--seconds", kBackstopSeconds});
  ASSERT_TRUE(presenter.WaitForOut("taking remote-control records", kTimeoutMs))
      << presenter.OutSoFar();
  RunningProgram viewer(KWZ_VIEWER_PATH, {"--source-address", "127.0.0.1", "--source-port", port,
                                          "--remote-control", "--server-address", "127.0.0.1",
                                          "--server-port", remote, "--seconds", kBackstopSeconds});
  Display* display = viewerDesktop.display;
  Window frame = 0;
  ASSERT_TRUE(WaitUntil([&] {
    frame = Search({"--pid", std::to_string(viewer.Pid())});
    return frame != 0 && Managed(display, frame) && ControlOf(display, frame) != 0;
  })) << viewer.OutSoFar();
  // The window manager activates the frame; the viewer hands the focus on to the control.
  const Window control = ControlOf(display, frame);
  XSetInputFocus(display, frame, RevertToParent, CurrentTime);
  XSync(display, False);
  ASSERT_TRUE(WaitUntil([&] {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    return focus == control;
  }));

  // AltGr is the right Alt key of a German keyboard (evdev's KEY_RIGHTALT, X keycode 108).
  constexpr KeyCode kAltGr = 100 + 8;
  const KeyCode q = XKeysymToKeycode(display, XK_q);
  for (const auto& [key, down] : {std::pair{kAltGr, True}, std::pair{q, True}, std::pair{q, False},
                                  std::pair{kAltGr, False}}) {
    XTestFakeKeyEvent(display, key, down, CurrentTime);
  }
  XSync(display, False);
  EXPECT_EQ(catcher.NextCharacter(), static_cast<KeySym>(XK_at)) << presenter.OutSoFar();

  viewer.Interrupt();
  EXPECT_EQ(viewer.Wait(kTimeoutMs).exitCode, 0);
  presenter.Interrupt();
  EXPECT_EQ(presenter.Wait(kTimeoutMs).exitCode, 0);
  XCloseDisplay(presenterDisplay);
}

INSTANTIATE_TEST_SUITE_P(PresenterLayouts, RemoteTypingAcrossLayouts, ::testing::Values("de", "us"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
