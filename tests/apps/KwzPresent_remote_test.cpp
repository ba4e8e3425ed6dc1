// kwz-present --remote-port with a live X source, as a viewer's remote control meets it: records
// sent to the port on 127.0.0.1 move the pointer, press its buttons and hold keys on that
// display. (How the records are read, printed and dropped is the listener's own test.)
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

// A record as the viewer writes it: little-endian words.
std::vector<std::uint8_t> Record(std::int32_t x, std::int32_t y, std::uint32_t buttons,
                                 std::uint8_t type, std::uint16_t message, std::uint32_t wParam,
                                 std::uint32_t lParam) {
  std::vector<std::uint8_t> r;
  auto word = [&r](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) r.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  word(static_cast<std::uint32_t>(x));
  word(static_cast<std::uint32_t>(y));
  word(buttons);
  r.insert(r.end(),
           {type, 0, static_cast<std::uint8_t>(message), static_cast<std::uint8_t>(message >> 8)});
  word(wParam);
  word(lParam);
  return r;
}

// One record and the display's state it must lead to: the pointer and its buttons, or a key.
struct Step {
  std::vector<std::uint8_t> record;
  int x, y;
  unsigned buttons;
  KeySym key;  // NoSymbol: a mouse record
  bool down;
};

Step Mouse(int x, int y, std::uint32_t buttons, unsigned held) {
  return Step{Record(x, y, buttons, 2, 0, 0xFFFFFFFF, 0xFFFFFFFF), x, y, held, NoSymbol, false};
}

Step Key(std::uint32_t lParam, bool down) {
  return Step{Record(0, 0, 0, 1, 0x0100, 0x25, lParam), 0, 0, 0, XK_Left, down};
}

TEST(KwzPresentRemote, ReplaysRecordsIntoTheLiveXDisplay) {
  XvfbServer server("640x480x24");
  if (!server.Running()) GTEST_SKIP() << "no Xvfb: " << server.Error();
  Display* display = XOpenDisplay(server.Display().c_str());
  ASSERT_NE(display, nullptr);
  UdpCollector stream;
  ASSERT_TRUE(stream.ok());
  const std::uint16_t port = FreeUdpPort();
  RunningProgram program(
      KWZ_PRESENT_PATH,
      {"--dest", "127.0.0.1:" + std::to_string(stream.port()), "--size", "64x64", "--fps", "5",
       "--remote-port", std::to_string(port), "--source", "x11:" + server.Display()});
  ASSERT_TRUE(program.WaitForOut(
      "taking remote-control records on 127.0.0.1:" + std::to_string(port), kTimeoutMs))
      << program.OutSoFar();

  const int sender = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(port);
  const Step steps[] = {
      // Moves, then a left press and release where the pointer is.
      Mouse(100, 50, 0, 0), Mouse(101, 51, 0x2, Button1Mask), Mouse(639, 479, 0x1, 0),
      // The right button held, then released; the left button's up bit changes nothing.
      Mouse(5, 5, 0x21, Button3Mask), Mouse(5, 5, 0x11, 0),
      // The Left arrow, an extended key, is held from its press to its release.
      Key(0x014B0001, true), Key(0xC14B0001, false)};
  for (const Step& step : steps) {
    sendto(sender, step.record.data(), step.record.size(), 0, reinterpret_cast<sockaddr*>(&to),
           sizeof to);
    // Polled: input that another client fakes sends this one no event of its own.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool reached = false;
    while (!reached && std::chrono::steady_clock::now() < deadline) {
      if (step.key == NoSymbol) {
        Window root, child;
        int x = 0, y = 0, winX = 0, winY = 0;
        unsigned mask = 0;
        XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &winX, &winY,
                      &mask);
        reached = x == step.x && y == step.y &&
                  (mask & (Button1Mask | Button2Mask | Button3Mask)) == step.buttons;
      } else {
        char keys[32];
        XQueryKeymap(display, keys);
        const KeyCode code = XKeysymToKeycode(display, step.key);
        reached = ((keys[code / 8] >> (code % 8)) & 1) == (step.down ? 1 : 0);
      }
      if (!reached) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(reached) << "step " << (&step - steps);
  }
  close(sender);
  XCloseDisplay(display);

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
