// kwz-present into kwz-viewer, both as processes over loopback, the viewer finding the control
// through a private registry: embedded in another program's window (--parent) it follows that
// window and ends cleanly when asked; framed by a window manager it is found, named, moved,
// resized and closed as any application. (How a window is painted is the platform's and the
// engine's painting tests.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "network/InputRecord.h"
#include "tests/apps/PresenterPicture.h"
#include "tests/apps/ProgramRun.h"
#include "tests/platform/RegistryTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/UdpCollector.h"
#include "tests/support/WindowManager.h"
#include "tests/support/XvfbServer.h"

// Last: Xlib defines macros (None, Bool) that other headers use as names.
#include <X11/Xlib.h>

namespace {

using namespace kwz_test;

constexpr int kTimeoutMs = 60000;
const std::string kSize = "320x240";

// A private display (with openbox on it for a desktop) and registry, the module registered there
// per user, and the test's own connection to the display.
struct Desktop {
  explicit Desktop(bool managed, const char* screen = "1024x768x24") : server(screen) {
    if (server.Running() && managed) manager.emplace(server.Display());
    if (Problem().empty()) display = XOpenDisplay(server.Display().c_str());
    // A window that goes away while it is looked at is not an error of the test's.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  }
  ~Desktop() {
    if (display != nullptr) XCloseDisplay(display);
  }
  std::string Problem() const {
    return !server.Running() ? server.Error() : manager ? manager->Error() : std::string();
  }
  int Register() const {
    return RunProgram(KWZ_REGSVR_PATH, {"--user", KWZ_MODULE_PATH}, kTimeoutMs).exitCode;
  }

  XvfbServer server;
  std::optional<WindowManager> manager;
  ScopedRegistry registry;
  ScopedEnv displayName{"DISPLAY", server.Display().c_str()};
  ScopedEnv backend{"KWZ_GDI_BACKEND", nullptr};
  ScopedNoLeakCheck noLeakCheck;
  Display* display = nullptr;
};

std::vector<Window> Children(Display* display, Window window) {
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  if (XQueryTree(display, window, &root, &parent, &children, &count) == 0) return {};
  std::vector<Window> result(children, children + count);
  if (children != nullptr) XFree(children);
  return result;
}

// The control's window: the only child of the viewer's frame; 0 while there is none.
Window ControlOf(Display* display, Window frame) {
  const std::vector<Window> children = Children(display, frame);
  return children.size() == 1 ? children.front() : 0;
}

std::string Property(Display* display, Window window, const char* name) {
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string value;
  if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1024, False,
                         AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
      data != nullptr) {
    value.assign(reinterpret_cast<char*>(data), format == 32 ? count * sizeof(long) : count);
  }
  if (data != nullptr) XFree(data);
  return value;
}

// A window shown with the control in it, else 0.
Window Showing(Display* display, Window window) {
  XWindowAttributes attributes{};
  return window != 0 && XGetWindowAttributes(display, window, &attributes) != 0 &&
                 attributes.map_state == IsViewable && ControlOf(display, window) != 0
             ? window
             : 0;
}

// The first window xdotool finds for a search, as a user would look it up; 0 for none.
Window Search(const std::vector<std::string>& query) {
  std::vector<std::string> args{"search"};
  args.insert(args.end(), query.begin(), query.end());
  const ProgramResult found = RunProgram("xdotool", args, kTimeoutMs);
  return found.exitCode == 0 ? std::stoul(found.out) : 0;
}

struct Box {
  int x, y, width, height;
};

Box OnScreen(Display* display, Window window) {
  Window root = 0, child = 0;
  int x = 0, y = 0;
  unsigned width = 0, height = 0, border = 0, depth = 0;
  XGetGeometry(display, window, &root, &x, &y, &width, &height, &border, &depth);
  XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child);
  return Box{x, y, static_cast<int>(width), static_cast<int>(height)};
}

// Embedded in another program's window (--parent), the viewer refuses ids that are not windows,
// shows the presenter in the host, follows the host's size and leaves nothing behind when
// interrupted, its snapshot of the host's size. (Headless, the presenter's exact picture is the
// relay's end-to-end test.)
TEST(ViewerEmbedded, RefusesOtherIdsFollowsItsHostAndEndsCleanly) {
  Desktop desktop(false, "640x480x24");
  if (desktop.display == nullptr) GTEST_SKIP() << desktop.Problem();
  ASSERT_EQ(desktop.Register(), 0);
  Display* display = desktop.display;
  // An id that names nothing, and a pixmap's, a real resource that is not a window.
  const Pixmap pixmap = XCreatePixmap(display, DefaultRootWindow(display), 8, 8, 24);
  XSync(display, False);
  for (const std::string& id : {std::string("0x1fffff0"), std::to_string(pixmap)}) {
    const ProgramResult run =
        RunProgram(KWZ_VIEWER_PATH, {"--source-address", "127.0.0.1", "--parent", id}, kTimeoutMs);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("is not a window on this X display"), std::string::npos) << run.err;
  }
  const Window host =
      XCreateSimpleWindow(display, DefaultRootWindow(display), 50, 40, 400, 300, 0, 0, 0);
  XMapWindow(display, host);
  XSync(display, False);
  TempDir dir;
  const std::string snapshot = std::string(dir.path()) + "/shown.png";
  const std::string port = std::to_string(FreeUdpPort(true));
  RunningProgram viewer(KWZ_VIEWER_PATH, {"--source-address", "127.0.0.1", "--source-port", port,
                                          "--size", kSize, "--snapshot", snapshot, "--get",
                                          "video_pck_lost", "--parent", std::to_string(host)});
  Window control = 0;
  ASSERT_TRUE(WaitUntil([&] {
    const std::vector<Window> inside = Children(display, host);
    const Window frame = inside.size() == 1 ? Showing(display, inside[0]) : 0;
    return (control = frame != 0 ? ControlOf(display, frame) : 0) != 0;
  })) << viewer.OutSoFar();

  const ProgramResult presenter = RunProgram(
      KWZ_PRESENT_PATH,
      {"--mode", "zlib", "--dest", "127.0.0.1:" + port, "--size", kSize, "--frames", "30"},
      kTimeoutMs);
  ASSERT_EQ(presenter.exitCode, 0) << presenter.err;
  XResizeWindow(display, host, 500, 350);
  XSync(display, False);
  EXPECT_TRUE(WaitUntil([&] {
    const Box box = OnScreen(display, control);
    return box.width == 500 && box.height == 350;
  })) << "the viewer does not follow its host's size";
  // Without a limit of its own, a viewer that ignored the request would be killed here.
  viewer.Interrupt();
  const ProgramResult ended = viewer.Wait(kTimeoutMs);
  ASSERT_EQ(ended.exitCode, 0) << ended.err;
  EXPECT_NE(ended.out.find("SizeUpdated 320 240\n"), std::string::npos) << ended.out;
  EXPECT_NE(ended.out.find("video_pck_lost=0/"), std::string::npos) << ended.out;
  EXPECT_TRUE(Children(display, host).empty()) << "the viewer leaves its windows behind";
  const Snapshot shown = CompareWithPresenter(snapshot, 0);
  EXPECT_EQ(shown.width, 500);
  EXPECT_EQ(shown.height, 350);
}

// Found, named and framed as any application; moved and resized by the user, stretching the
// picture, with records counted from the control's corner in the shared screen's pixels.
TEST(ViewerOnADesktop, FoundNamedMovedResizedAndClosedAsAnyApplication) {
  Desktop desktop(true);
  if (desktop.display == nullptr) GTEST_SKIP() << desktop.Problem();
  ASSERT_EQ(desktop.Register(), 0);
  Display* display = desktop.display;
  UdpCollector records;  // the remote-control records the viewer sends
  const std::string port = std::to_string(FreeUdpPort(true));
  RunningProgram presenter(KWZ_PRESENT_PATH,
                           {"--mode", "zlib", "--dest", "127.0.0.1:" + port, "--size", "640x480"});
  RunningProgram viewer(KWZ_VIEWER_PATH,
                        {"--source-address", "127.0.0.1", "--source-port", port, "--size", kSize,
                         "--stretch", "--remote-control", "--server-address", "127.0.0.1",
                         "--server-port", std::to_string(records.port())});
  ASSERT_TRUE(viewer.Started() && presenter.Started());
  Window frame = 0;
  // Found by its process once it shows its control, framed by the window manager.
  ASSERT_TRUE(WaitUntil([&] {
    frame = Showing(display, Search({"--pid", std::to_string(viewer.Pid())}));
    return frame != 0 && !Property(display, frame, "WM_STATE").empty();
  })) << viewer.OutSoFar();
  EXPECT_EQ(Search({"--classname", "kwz-viewer"}), frame);
  EXPECT_EQ(Search({"--class", "KwzViewer"}), frame);
  EXPECT_FALSE(Property(display, frame, "WM_CLIENT_MACHINE").empty());
  EXPECT_GE(Property(display, frame, "_NET_WM_ICON").size(), 4 * sizeof(long));  // 32, 32, ...
  // The title names the source, then the shared screen once it arrives.
  const std::string named = "kwz-viewer \u2014 127.0.0.1:" + port + " \u2014 640\u00D7480";
  EXPECT_TRUE(WaitUntil([&] {
    return Property(display, frame, "_NET_WM_NAME").rfind(named, 0) == 0;
  })) << Property(display, frame, "_NET_WM_NAME");

  const Window control = ControlOf(display, frame);
  const Box placed = OnScreen(display, control);
  XMoveResizeWindow(display, frame, placed.x > 200 ? 100 : 300, 250, 480, 360);
  XSync(display, False);
  Box box{};
  ASSERT_TRUE(WaitUntil([&] {
    box = OnScreen(display, control);
    return box.x != placed.x && box.width == 480 && box.height == 360;
  })) << "the control does not cover the moved and resized window";
  // The middle of the stretched control is the middle of the shared screen, give or take one.
  // (How records follow the pointer is the control's own test.)
  XWarpPointer(display, 0, DefaultRootWindow(display), 0, 0, 0, 0, box.x + 240, box.y + 180);
  XSync(display, False);
  std::vector<std::uint8_t> datagram;
  InputRecord record{};
  bool middle = false;
  for (int i = 0; i < 100 && !middle && records.Receive(&datagram, 5000); ++i) {
    middle =
        ReadInputRecord(datagram.data(), datagram.size(), &record) == InputRecordError::kNone &&
        record.type == kInputRecordMouse && std::abs(record.x - 320) <= 1 &&
        std::abs(record.y - 240) <= 1;
  }
  EXPECT_TRUE(middle) << "last record at " << record.x << "," << record.y;
  // A click and a key from the X server come out as their records: the path from X events
  // through window messages to the wire.
  ASSERT_EQ(
      RunProgram("xdotool",
                 {"windowactivate", "--sync", std::to_string(frame), "click", "1", "key", "a"},
                 kTimeoutMs)
          .exitCode,
      0);
  // The press, then the release, then the character: each step waits for the one before.
  const auto pressed = [&] { return (record.buttons & kButtonLeftDown) != 0; };
  const auto released = [&] { return (record.buttons & kButtonLeftUp) != 0; };
  const auto typed = [&] {
    return record.type == kInputRecordKeyboard && record.message == kInputMessageCharacter &&
           record.wParam == 'a';
  };
  std::vector<std::function<bool()>> steps{pressed, released, typed};
  size_t done = 0;
  for (int i = 0; i < 300 && done < steps.size() && records.Receive(&datagram, 5000); ++i) {
    if (ReadInputRecord(datagram.data(), datagram.size(), &record) == InputRecordError::kNone &&
        steps[done]()) {
      ++done;
    }
  }
  EXPECT_EQ(done, steps.size()) << "the click's and the key's records stop at step " << done;

  // The close button of the window manager's frame (as a pager or the user asks it: source 2).
  XEvent close{};
  close.xclient.type = ClientMessage;
  close.xclient.window = frame;
  close.xclient.message_type = XInternAtom(display, "_NET_CLOSE_WINDOW", False);
  close.xclient.format = 32;
  close.xclient.data.l[1] = 2;
  XSendEvent(display, DefaultRootWindow(display), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &close);
  XSync(display, False);
  EXPECT_EQ(viewer.Wait(kTimeoutMs).exitCode, 0);
}

}  // namespace
