// kwz-present --remote-port as a viewer's remote control meets it: records sent to the port on
// 127.0.0.1 are printed decoded, malformed datagrams counted and dropped, and with a live X
// source the records move the pointer, press its buttons and hold keys on that display.
#include <gtest/gtest.h>
// Xlib after gtest: its macros (None, Bool) clash with gtest's names.
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/apps/ProgramRun.h"
#include "tests/support/UdpCollector.h"
#include "tests/support/XvfbServer.h"

namespace kwz_test {
namespace {

constexpr int kTimeoutMs = 30000;

// A POSIX UDP socket on 127.0.0.1 that sends records, and a port that was free a moment ago.
class RecordSender {
 public:
  RecordSender() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {}
  ~RecordSender() { close(fd_); }

  static std::uint16_t FreePort() {
    const int probe = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    return ntohs(address.sin_port);
  }

  void Send(std::uint16_t port, const std::vector<std::uint8_t>& datagram) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }

  // A record as the viewer writes it: little-endian words.
  static std::vector<std::uint8_t> Record(std::int32_t x, std::int32_t y, std::uint32_t buttons,
                                          std::uint8_t type, std::uint16_t message,
                                          std::uint32_t wParam, std::uint32_t lParam) {
    std::vector<std::uint8_t> r;
    auto word = [&r](std::uint32_t v) {
      for (int i = 0; i < 4; ++i) r.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    word(static_cast<std::uint32_t>(x));
    word(static_cast<std::uint32_t>(y));
    word(buttons);
    r.push_back(type);
    r.push_back(0);
    r.push_back(static_cast<std::uint8_t>(message));
    r.push_back(static_cast<std::uint8_t>(message >> 8));
    word(wParam);
    word(lParam);
    return r;
  }
  static std::vector<std::uint8_t> Mouse(std::int32_t x, std::int32_t y, std::uint32_t buttons) {
    return Record(x, y, buttons, 2, 0, 0xFFFFFFFF, 0xFFFFFFFF);
  }

 private:
  int fd_;
};

std::vector<std::string> RunArgs(const UdpCollector& stream, std::uint16_t remotePort) {
  return {"--dest",        "127.0.0.1:" + std::to_string(stream.port()),
          "--size",        "64x64",
          "--fps",         "5",
          "--remote-port", std::to_string(remotePort),
          "--seconds",     "60"};
}

TEST(KwzPresentRemote, PrintsRecordsAndCountsWhatItDrops) {
  UdpCollector stream;
  ASSERT_TRUE(stream.ok());
  const std::uint16_t port = RecordSender::FreePort();
  RunningProgram program(KWZ_PRESENT_PATH, RunArgs(stream, port));
  ASSERT_TRUE(program.Started());
  ASSERT_TRUE(program.WaitForOut(
      "taking remote-control records on 127.0.0.1:" + std::to_string(port), kTimeoutMs))
      << program.OutSoFar();

  RecordSender sender;
  sender.Send(port, RecordSender::Mouse(200, 0, 0x2));
  sender.Send(port, RecordSender::Record(0, 0, 0, 1, 0x0100, 0x25, 0xC14B0001));
  sender.Send(port, std::vector<std::uint8_t>(25, 1));
  sender.Send(port, RecordSender::Record(0, 0, 0, 0xFF, 0xFFFF, 0, 0));
  ASSERT_TRUE(program.WaitForOut("(2 dropped)", kTimeoutMs)) << program.OutSoFar();
  program.Interrupt();
  const ProgramResult run = program.Wait(kTimeoutMs);
  ASSERT_EQ(run.exitCode, 0) << run.err;

  for (const char* line :
       {"remote: mouse x=200 y=0 buttons=0x2 message=0x0000 wParam=0xFFFFFFFF lParam=0xFFFFFFFF\n",
        "remote: key x=0 y=0 buttons=0x0 message=0x0100 wParam=0x00000025 lParam=0xC14B0001\n",
        "remote: dropped a datagram of 25 bytes: a record has 24 (1 dropped)\n",
        "remote: dropped a record of unknown type 255 (2 dropped)\n",
        "kwz-present: remote control: 2 records, 2 dropped, 0 input events replayed\n"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "in:\n" << run.out;
  }
}

// The display's pointer and keys, read on a connection of the test's own.
class DisplayState {
 public:
  explicit DisplayState(const std::string& name) : display_(XOpenDisplay(name.c_str())) {}
  ~DisplayState() {
    if (display_ != nullptr) XCloseDisplay(display_);
  }
  bool ok() const { return display_ != nullptr; }

  // Waits until the pointer is at (x, y) with exactly the given button mask, at most 10 s.
  bool WaitForPointer(int x, int y, unsigned buttons) {
    return WaitFor([&] {
      Window root, child;
      int rootX = 0, rootY = 0, winX = 0, winY = 0;
      unsigned mask = 0;
      XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, &rootX, &rootY, &winX,
                    &winY, &mask);
      return rootX == x && rootY == y &&
             (mask & (Button1Mask | Button2Mask | Button3Mask)) == buttons;
    });
  }
  bool WaitForKey(KeySym sym, bool down) {
    const KeyCode code = XKeysymToKeycode(display_, sym);
    return WaitFor([&] {
      char keys[32];
      XQueryKeymap(display_, keys);
      return ((keys[code / 8] >> (code % 8)) & 1) == (down ? 1 : 0);
    });
  }

 private:
  template <typename F>
  bool WaitFor(F condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  Display* display_;
};

TEST(KwzPresentRemote, ReplaysRecordsIntoTheLiveXDisplay) {
  XvfbServer server("640x480x24");
  if (!server.Running()) GTEST_SKIP() << "no Xvfb: " << server.Error();
  DisplayState state(server.Display());
  ASSERT_TRUE(state.ok());
  UdpCollector stream;
  ASSERT_TRUE(stream.ok());
  const std::uint16_t port = RecordSender::FreePort();
  std::vector<std::string> args = RunArgs(stream, port);
  args.push_back("--source");
  args.push_back("x11:" + server.Display());
  RunningProgram program(KWZ_PRESENT_PATH, args);
  ASSERT_TRUE(program.WaitForOut("taking remote-control records", kTimeoutMs))
      << program.OutSoFar();

  RecordSender sender;
  // Moves, then a left press and release where the pointer is.
  sender.Send(port, RecordSender::Mouse(100, 50, 0));
  EXPECT_TRUE(state.WaitForPointer(100, 50, 0));
  sender.Send(port, RecordSender::Mouse(101, 51, 0x2));
  EXPECT_TRUE(state.WaitForPointer(101, 51, Button1Mask));
  sender.Send(port, RecordSender::Mouse(639, 479, 0x1));
  EXPECT_TRUE(state.WaitForPointer(639, 479, 0));
  // The right button held, then released; the left button's up bit changes nothing.
  sender.Send(port, RecordSender::Mouse(5, 5, 0x21));
  EXPECT_TRUE(state.WaitForPointer(5, 5, Button3Mask));
  sender.Send(port, RecordSender::Mouse(5, 5, 0x11));
  EXPECT_TRUE(state.WaitForPointer(5, 5, 0));
  // The Left arrow, an extended key, is held from its press to its release.
  sender.Send(port, RecordSender::Record(0, 0, 0, 1, 0x0100, 0x25, 0x014B0001));
  EXPECT_TRUE(state.WaitForKey(XK_Left, true));
  sender.Send(port, RecordSender::Record(0, 0, 0, 1, 0x0100, 0x25, 0xC14B0001));
  EXPECT_TRUE(state.WaitForKey(XK_Left, false));

  program.Interrupt();
  const ProgramResult run = program.Wait(kTimeoutMs);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // Five moves and four button changes; two key events.
  EXPECT_NE(run.out.find("remote control: 7 records, 0 dropped, 11 input events replayed"),
            std::string::npos)
      << run.out;
}

}  // namespace
}  // namespace kwz_test
