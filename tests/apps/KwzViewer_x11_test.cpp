// kwz-present into kwz-viewer in real X11 windows under a private Xvfb: the viewer's own
// top-level window, closed by a window manager's request, and the viewer embedded with --parent
// in a window this test creates. What the windows show is read back from the server with
// XGetImage and compared to the presenter's picture.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/apps/PresenterPicture.h"
#include "tests/apps/X11ViewerSupport.h"

namespace {

using namespace kwz_test;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFrames = 30;

struct X11Case {
  const char* mode;
  bool embedded;  // --parent into a window of the test's, else the viewer's own window
  bool lossless;
  double minPsnr;
};

class ViewerInX11 : public ::testing::TestWithParam<X11Case> {};

TEST_P(ViewerInX11, WindowShowsThePresentersPicture) {
  const ViewerSetup setup("640x480x24");
  if (!setup.server.Running()) GTEST_SKIP() << "no Xvfb: " << setup.server.Error();
  const ProgramResult registered = setup.Register();
  ASSERT_EQ(registered.exitCode, 0) << registered.err;

  Display* display = XOpenDisplay(setup.server.Display().c_str());
  ASSERT_NE(display, nullptr);
  const Window root = DefaultRootWindow(display);
  Window host = 0;
  if (GetParam().embedded) {
    host = XCreateSimpleWindow(display, root, 50, 40, 400, 300, 0, 0, 0);
    XMapWindow(display, host);
    XSync(display, False);
  }
  const std::vector<Window> before = Children(display, GetParam().embedded ? host : root);

  const std::string port = std::to_string(46000 + 2 * (::getpid() % 500));
  const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
  std::vector<std::string> args{"--source-address", "127.0.0.1", "--source-port", port,
                                "--size",           size,        "--seconds",     kBackstopSeconds};
  if (GetParam().embedded) {
    args.push_back("--parent");
    args.push_back(std::to_string(host));
  }
  RunningProgram viewer(KWZ_VIEWER_PATH, args);
  ASSERT_TRUE(viewer.Started());

  // The viewer's frame: the one new mapped window where it was asked to appear.
  Window frame = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (frame == 0 && std::chrono::steady_clock::now() < deadline) {
    for (Window w : Children(display, GetParam().embedded ? host : root)) {
      bool old = false;
      for (Window b : before) old = old || b == w;
      if (!old && IsMapped(display, w)) frame = w;
    }
    if (frame == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_NE(frame, 0u) << viewer.OutSoFar();

  const ProgramResult presenter =
      RunProgram(KWZ_PRESENT_PATH,
                 {"--mode", GetParam().mode, "--dest", "127.0.0.1:" + port, "--size", size, "--fps",
                  "15", "--frames", std::to_string(kFrames)},
                 kTimeoutMs);
  ASSERT_EQ(presenter.exitCode, 0) << presenter.err;
  EXPECT_TRUE(viewer.WaitForOut(
      "SizeUpdated " + std::to_string(kWidth) + " " + std::to_string(kHeight) + "\n", 10000))
      << viewer.OutSoFar();
  // The last frame is decoded and shown while the presenter's process ends.
  kwz_test::Comparison c;
  for (int attempt = 0; attempt < 20; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    const std::vector<std::uint8_t> shown =
        Screenshot(display, GetParam().embedded ? host : frame, kWidth, kHeight);
    ASSERT_FALSE(shown.empty());
    c = kwz_test::ComparePresenterPicture(shown, kWidth, kHeight, kFrames - 1);
    if (GetParam().lossless ? c.mismatched == 0 : c.psnr >= GetParam().minPsnr) break;
  }
  if (GetParam().lossless) {
    EXPECT_EQ(c.mismatched, 0) << "PSNR " << c.psnr;
  } else {
    EXPECT_GE(c.psnr, GetParam().minPsnr);
  }

  const auto closing = std::chrono::steady_clock::now();
  if (GetParam().embedded) {
    // An embedded control has no frame of its own for the window manager to close.
    viewer.Interrupt();
  } else {
    RequestClose(display, frame);
  }
  const ProgramResult ended = viewer.Wait(kTimeoutMs);
  EXPECT_EQ(ended.exitCode, 0) << ended.err;
  EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(15))
      << "the viewer ran on to its --seconds instead of closing";
  if (GetParam().embedded) {
    EXPECT_TRUE(Children(display, host).empty()) << "the viewer leaves its windows behind";
    XDestroyWindow(display, host);
  }
  XCloseDisplay(display);
}

INSTANTIATE_TEST_SUITE_P(Modes, ViewerInX11,
                         ::testing::Values(X11Case{"zlib", false, true, 0},
                                           X11Case{"h264", false, false, 25},
                                           X11Case{"zlib", true, true, 0}),
                         [](const auto& info) {
                           return std::string(info.param.mode) +
                                  (info.param.embedded ? "_Embedded" : "_OwnWindow");
                         });

// Ids that name no window on the display end the viewer with a clear error, not a crash.
TEST(ViewerInX11Parent, BadParentIdIsAClearError) {
  const ViewerSetup setup("320x240x24");
  if (!setup.server.Running()) GTEST_SKIP() << "no Xvfb: " << setup.server.Error();
  ASSERT_EQ(setup.Register().exitCode, 0);

  Display* display = XOpenDisplay(setup.server.Display().c_str());
  ASSERT_NE(display, nullptr);
  // A pixmap's id is a real resource, only not a window.
  const Pixmap pixmap = XCreatePixmap(display, DefaultRootWindow(display), 8, 8, 24);
  XSync(display, False);
  for (const std::string& id : {std::string("0x1fffff0"), std::to_string(pixmap)}) {
    SCOPED_TRACE(id);
    const ProgramResult run =
        RunProgram(KWZ_VIEWER_PATH,
                   {"--source-address", "127.0.0.1", "--parent", id, "--seconds", "5"}, kTimeoutMs);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("is not a window on this X display"), std::string::npos) << run.err;
  }
  XFreePixmap(display, pixmap);
  XCloseDisplay(display);
}

}  // namespace
