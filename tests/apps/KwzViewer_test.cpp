// kwz-present into kwz-viewer, both as processes over loopback, the viewer finding the control
// through a private registry. On each path the viewer takes (headless with a snapshot, its own
// window on a bare X server, embedded with --parent, framed by a window manager) it shows the
// presenter's last picture and ends cleanly when asked. What only a desktop does to windows
// (finding and naming them, moves and resizes) has a case of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
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
#include <X11/Xutil.h>

namespace {

using namespace kwz_test;

constexpr int kTimeoutMs = 60000;
constexpr int kWidth = 320, kHeight = 240, kFrames = 30;
const std::string kSize = "320x240";

// Polls a condition about windows or pictures: the server tells no client when another one
// draws or is moved by a window manager.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

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
  std::vector<Window> result;
  if (XQueryTree(display, window, &root, &parent, &children, &count) == 0) return result;
  result.assign(children, children + count);
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

bool IsMapped(Display* display, Window window) {
  XWindowAttributes attributes{};
  return XGetWindowAttributes(display, window, &attributes) != 0 &&
         attributes.map_state == IsViewable;
}

// The first window xdotool finds for a search, as a user would look it up; 0 for none.
Window Search(const std::vector<std::string>& query) {
  std::vector<std::string> args{"search"};
  args.insert(args.end(), query.begin(), query.end());
  const ProgramResult found = RunProgram("xdotool", args, kTimeoutMs);
  return found.exitCode == 0 ? std::stoul(found.out) : 0;
}

// The viewer's frame, found by its process once it shows with its control in it; else 0.
Window FindFrame(Display* display, const RunningProgram& viewer, bool managed) {
  const Window frame = Search({"--pid", std::to_string(viewer.Pid())});
  return frame != 0 && IsMapped(display, frame) && ControlOf(display, frame) != 0 &&
                 (!managed || !Property(display, frame, "WM_STATE").empty())
             ? frame
             : 0;
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

// RGB of the window's top-left width x height as the server shows it; empty when unreadable.
std::vector<std::uint8_t> Screenshot(Display* display, Window window, int width, int height) {
  XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), AllPlanes, ZPixmap);
  if (image == nullptr) return {};
  std::vector<std::uint8_t> rgb;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const unsigned long pixel = XGetPixel(image, x, y);
      for (unsigned long mask : {image->red_mask, image->green_mask, image->blue_mask}) {
        const int shift = __builtin_ctzl(mask);
        rgb.push_back(static_cast<std::uint8_t>(((pixel & mask) >> shift) * 255 / (mask >> shift)));
      }
    }
  }
  XDestroyImage(image);
  return rgb;
}

void SendClientMessage(Display* display, Window to, long mask, Window about, const char* type,
                       long first, long second) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = about;
  event.xclient.message_type = XInternAtom(display, type, False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = first;
  event.xclient.data.l[1] = second;
  XSendEvent(display, to, False, mask, &event);
  XSync(display, False);
}

void Pointer(Display* display, int x, int y) {
  XWarpPointer(display, 0, DefaultRootWindow(display), 0, 0, 0, 0, x, y);
  XSync(display, False);
}

enum class Path { kHeadless, kOwnWindow, kEmbedded, kDesktop };

struct ViewCase {
  const char* name;
  Path path;
  const char* mode;
  double minPsnr;  // 0: every pixel
};

class ViewerShowsThePresenter : public ::testing::TestWithParam<ViewCase> {};

TEST_P(ViewerShowsThePresenter, LastPictureThenACleanEnd) {
  const ViewCase& c = GetParam();
  const bool headless = c.path == Path::kHeadless, embedded = c.path == Path::kEmbedded;
  Desktop desktop(c.path == Path::kDesktop, "640x480x24");
  if (desktop.display == nullptr) GTEST_SKIP() << desktop.Problem();
  ASSERT_EQ(desktop.Register(), 0);
  Display* display = desktop.display;
  Window host = 0;
  if (embedded) {
    host = XCreateSimpleWindow(display, DefaultRootWindow(display), 50, 40, 400, 300, 0, 0, 0);
    XMapWindow(display, host);
    XSync(display, False);
  }
  TempDir dir;
  const std::string snapshot = std::string(dir.path()) + "/shown.png";
  const std::uint16_t port = FreeUdpPort(true);
  std::vector<std::string> args{
      "--source-address", "127.0.0.1", "--source-port", std::to_string(port), "--size", kSize,
      "--snapshot",       snapshot,    "--get",         "video_pck_lost"};
  // Headless, the snapshot is taken when the viewer's run ends on its own limit, well after the
  // presenter's two seconds of frames; a window is read back from the server instead.
  if (headless) args.insert(args.end(), {"--headless", "--seconds", "6"});
  if (embedded) args.insert(args.end(), {"--parent", std::to_string(host)});
  RunningProgram viewer(KWZ_VIEWER_PATH, args);
  ASSERT_TRUE(viewer.Started());
  Window frame = 0, control = 0;
  if (headless) {
    ASSERT_TRUE(WaitForUdpPort(port, kTimeoutMs)) << viewer.OutSoFar();
  } else {
    ASSERT_TRUE(WaitUntil([&] {
      if (!embedded) return (frame = FindFrame(display, viewer, c.path == Path::kDesktop)) != 0;
      const std::vector<Window> inside = Children(display, host);
      frame = inside.size() == 1 && IsMapped(display, inside[0]) ? inside[0] : 0;
      return frame != 0 && ControlOf(display, frame) != 0;
    })) << viewer.OutSoFar();
    control = ControlOf(display, frame);
  }

  const ProgramResult presenter =
      RunProgram(KWZ_PRESENT_PATH,
                 {"--mode", c.mode, "--dest", "127.0.0.1:" + std::to_string(port), "--size", kSize,
                  "--fps", "15", "--frames", std::to_string(kFrames)},
                 kTimeoutMs);
  ASSERT_EQ(presenter.exitCode, 0) << presenter.err;
  auto shows = [&](const std::vector<std::uint8_t>& shown) {
    const Comparison m = ComparePresenterPicture(shown, kWidth, kHeight, kFrames - 1);
    return c.minPsnr == 0 ? m.mismatched == 0 : m.psnr >= c.minPsnr;
  };
  if (!headless) {
    // The last frame is decoded and shown after the presenter's process ends.
    EXPECT_TRUE(WaitUntil([&] { return shows(Screenshot(display, control, kWidth, kHeight)); }));
    if (embedded) {
      // The host's program resizes its window: the viewer inside follows.
      XResizeWindow(display, host, 500, 350);
      XSync(display, False);
      EXPECT_TRUE(WaitUntil([&] {
        const Box box = OnScreen(display, control);
        return box.width == 500 && box.height == 350;
      })) << "the viewer does not follow its host's size";
      // An embedded control has no frame of its own to be closed.
      viewer.Interrupt();
    } else {
      // What a window manager sends when the user closes the window.
      SendClientMessage(display, frame, NoEventMask, frame, "WM_PROTOCOLS",
                        static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False)), 0);
    }
  }
  // Without a limit of its own, a viewer that ignored the request would be killed here.
  const ProgramResult ended = viewer.Wait(kTimeoutMs);
  ASSERT_EQ(ended.exitCode, 0) << ended.err;
  EXPECT_NE(ended.out.find("SizeUpdated 320 240\n"), std::string::npos) << ended.out;
  EXPECT_NE(ended.out.find("video_pck_lost=0/"), std::string::npos) << ended.out;
  if (embedded) {
    EXPECT_TRUE(Children(display, host).empty()) << "the viewer leaves its windows behind";
  }
  int width = 0, height = 0;
  const std::vector<std::uint8_t> shown = ReadPngRgb(snapshot, &width, &height);
  ASSERT_EQ(width, embedded ? 500 : kWidth);
  ASSERT_EQ(height, embedded ? 350 : kHeight);
  // Embedded, the picture sits in the corner of the host's larger size.
  if (!embedded) {
    EXPECT_TRUE(shows(shown));
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, ViewerShowsThePresenter,
                         ::testing::Values(ViewCase{"Headless_zlib", Path::kHeadless, "zlib", 0},
                                           ViewCase{"OwnWindow_vp8", Path::kOwnWindow, "vp8", 25},
                                           ViewCase{"Embedded_zlib", Path::kEmbedded, "zlib", 0},
                                           ViewCase{"Desktop_jpeg", Path::kDesktop, "jpeg", 25}),
                         [](const auto& info) { return std::string(info.param.name); });

// Ids that name no window on the display end the viewer with a clear error, not a crash.
TEST(ViewerEmbedded, BadParentIdIsAClearError) {
  Desktop desktop(false, "320x240x24");
  if (desktop.display == nullptr) GTEST_SKIP() << desktop.Problem();
  ASSERT_EQ(desktop.Register(), 0);
  // A pixmap's id is a real resource, only not a window.
  const Pixmap pixmap =
      XCreatePixmap(desktop.display, DefaultRootWindow(desktop.display), 8, 8, 24);
  XSync(desktop.display, False);
  for (const std::string& id : {std::string("0x1fffff0"), std::to_string(pixmap)}) {
    const ProgramResult run =
        RunProgram(KWZ_VIEWER_PATH, {"--source-address", "127.0.0.1", "--parent", id}, kTimeoutMs);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("is not a window on this X display"), std::string::npos) << run.err;
  }
  XFreePixmap(desktop.display, pixmap);
}

// The remote-control mouse records the viewer sends.
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

// Found, named and framed as any application; moved and resized by the user, stretching the
// picture, with records counted from the control's corner in the shared screen's pixels.
TEST(ViewerOnADesktop, FoundNamedMovedResizedAndClosedAsAnyApplication) {
  Desktop desktop(true);
  if (desktop.display == nullptr) GTEST_SKIP() << desktop.Problem();
  ASSERT_EQ(desktop.Register(), 0);
  Display* display = desktop.display;
  MouseRecords records;
  const std::string port = std::to_string(FreeUdpPort(true));
  RunningProgram presenter(KWZ_PRESENT_PATH,
                           {"--mode", "zlib", "--dest", "127.0.0.1:" + port, "--size", "640x480"});
  RunningProgram viewer(KWZ_VIEWER_PATH,
                        {"--source-address", "127.0.0.1", "--source-port", port, "--size", kSize,
                         "--stretch", "--remote-control", "--server-address", "127.0.0.1",
                         "--server-port", std::to_string(records.Port())});
  ASSERT_TRUE(viewer.Started() && presenter.Started());
  Window frame = 0;
  ASSERT_TRUE(WaitUntil([&] { return (frame = FindFrame(display, viewer, true)) != 0; }))
      << viewer.OutSoFar();
  EXPECT_EQ(Search({"--classname", "kwz-viewer"}), frame);
  EXPECT_EQ(Search({"--class", "KwzViewer"}), frame);
  EXPECT_FALSE(Property(display, frame, "WM_CLIENT_MACHINE").empty());
  EXPECT_GE(Property(display, frame, "_NET_WM_ICON").size(), 4 * sizeof(long));  // 32, 32, ...
  // The title names the source, then the shared screen once it arrives.
  const std::string named = "kwz-viewer \u2014 127.0.0.1:" + port + " \u2014 640\u00D7480";
  EXPECT_TRUE(WaitUntil([&] {
    return Property(display, frame, "_NET_WM_NAME").rfind(named, 0) == 0;
  })) << Property(display, frame, "_NET_WM_NAME");
  // openbox framed it: the frame's parent is the decoration, not the root.
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  XQueryTree(display, frame, &root, &parent, &children, &count);
  if (children != nullptr) XFree(children);
  EXPECT_NE(parent, root);

  const Window control = ControlOf(display, frame);
  const Box placed = OnScreen(display, control);
  XMoveResizeWindow(display, frame, placed.x > 200 ? 100 : 300, 250, 480, 360);
  XSync(display, False);
  Box box{};
  ASSERT_TRUE(WaitUntil([&] {
    box = OnScreen(display, control);
    return box.x != placed.x && box.width == 480 && box.height == 360;
  })) << "the control does not cover the moved and resized window";
  Pointer(display, box.x + 240, box.y + 180);
  EXPECT_TRUE(records.WaitFor(320, 240));
  // Outside the window the last position stays.
  Pointer(display, 5, 5);
  InputRecord record{};
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(records.Next(&record));
  EXPECT_EQ(record.x, 320);
  EXPECT_EQ(record.y, 240);

  // The close button of the window manager's frame (as a pager or the user asks it: source 2).
  SendClientMessage(display, DefaultRootWindow(display),
                    SubstructureRedirectMask | SubstructureNotifyMask, frame, "_NET_CLOSE_WINDOW",
                    0, 2);
  EXPECT_EQ(viewer.Wait(kTimeoutMs).exitCode, 0);
}

}  // namespace
