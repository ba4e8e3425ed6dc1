// kwz-present with a live X source: the screen goes out at the display's size with the pointer
// as the cursor, and with --remote-port, as a viewer's remote control meets it, records sent to
// the port on 127.0.0.1 move the pointer, press its buttons and hold keys on that display, and
// datagrams that are not records are dropped, each with a line that says why.
#include <gtest/gtest.h>
// Xlib after gtest: its macros (None, Bool) clash with gtest's names.
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "network/InputRecord.h"
#include "tests/apps/ProgramRun.h"
#include "tests/support/RtpStreamCheck.h"
#include "tests/support/UdpCollector.h"
#include "tests/support/XvfbServer.h"

namespace kwz_test {
namespace {

constexpr int kTimeoutMs = 30000;

// A datagram and the display's state it must lead to: the pointer and its buttons, or a key;
// none for a datagram that is dropped.
struct Step {
  std::vector<std::uint8_t> datagram;
  int x = 0, y = 0;
  unsigned buttons = 0;
  KeySym key = NoSymbol;
  bool down = false;
  bool dropped = false;
};

std::vector<std::uint8_t> Bytes(const InputRecord& record) {
  BYTE bytes[kInputRecordSize];
  WriteInputRecord(record, bytes);
  return {bytes, bytes + kInputRecordSize};
}

Step Mouse(int x, int y, DWORD buttons, unsigned held) {
  return Step{Bytes({x, y, buttons, kInputRecordMouse, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF}), x, y, held};
}

Step Key(DWORD lParam, bool down) {
  return Step{
      Bytes({0, 0, 0, kInputRecordKeyboard, 0, 0x0100, 0x25, lParam}), 0, 0, 0, XK_Left, down};
}

Step Dropped(std::vector<std::uint8_t> datagram) {
  Step step{std::move(datagram)};
  step.dropped = true;
  return step;
}

TEST(KwzPresentRemote, ReplaysRecordsIntoTheLiveXDisplay) {
  XvfbServer server("640x480x24");
  if (!server.Running()) GTEST_SKIP() << "no Xvfb: " << server.Error();
  Display* display = XOpenDisplay(server.Display().c_str());
  ASSERT_NE(display, nullptr);
  UdpCollector stream;
  ASSERT_TRUE(stream.ok());
  const std::uint16_t port = FreeUdpPort();
  RunningProgram program(KWZ_PRESENT_PATH,
                         {"--dest", "127.0.0.1:" + std::to_string(stream.port()), "--mode", "zlib",
                          "--fps", "5", "--refresh-seconds", "0", "--remote-port",
                          std::to_string(port), "--source", "x11:" + server.Display()});
  ASSERT_TRUE(program.WaitForOut(
      "taking remote-control records on 127.0.0.1:" + std::to_string(port), kTimeoutMs))
      << program.OutSoFar();
  // The still screen's whole 7 x 5 grid once, with the pointer where Xvfb starts it: in the middle.
  std::vector<std::vector<std::uint8_t>> datagrams(1);
  ASSERT_TRUE(stream.Receive(&datagrams[0], kTimeoutMs));
  for (auto& more : stream.Drain(1000)) datagrams.push_back(std::move(more));
  const auto messages = CheckScreenStream(datagrams);
  ASSERT_EQ(messages.size(), 35u);
  for (const auto& m : messages) {
    EXPECT_EQ(m[6] | m[7] << 8, 640);
    EXPECT_EQ(m[8] | m[9] << 8, 480);
    EXPECT_EQ(m[20] | m[21] << 8, 320);
    EXPECT_EQ(m[22] | m[23] << 8, 240);
  }

  const int sender = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(port);
  std::vector<std::uint8_t> unknownType(kInputRecordSize, 0);
  unknownType[12] = 9;
  const Step steps[] = {
      // Moves, then a left press and release where the pointer is.
      Mouse(100, 50, 0, 0), Mouse(101, 51, 0x2, Button1Mask), Mouse(639, 479, 0x1, 0),
      // The right button held, then released; the left button's up bit changes nothing.
      Mouse(5, 5, 0x21, Button3Mask), Mouse(5, 5, 0x11, 0),
      // The Left arrow, an extended key, is held from its press to its release.
      Key(0x014B0001, true), Key(0xC14B0001, false),
      // Not records: too short, of an unknown type, larger than any record, empty.
      Dropped(std::vector<std::uint8_t>(23)), Dropped(unknownType),
      Dropped(std::vector<std::uint8_t>(3000, 2)), Dropped({})};
  for (const Step& step : steps) {
    sendto(sender, step.datagram.data(), step.datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
           sizeof to);
    const bool reached =
        step.dropped || WaitUntil([&] {
          if (step.key != NoSymbol) {
            char keys[32];
            XQueryKeymap(display, keys);
            const KeyCode code = XKeysymToKeycode(display, step.key);
            return ((keys[code / 8] >> (code % 8)) & 1) == (step.down ? 1 : 0);
          }
          Window root, child;
          int x = 0, y = 0, winX = 0, winY = 0;
          unsigned mask = 0;
          XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &winX, &winY,
                        &mask);
          return x == step.x && y == step.y &&
                 (mask & (Button1Mask | Button2Mask | Button3Mask)) == step.buttons;
        });
    EXPECT_TRUE(reached) << "step " << (&step - steps);
  }
  close(sender);
  XCloseDisplay(display);

  // The dropped datagrams are counted once they are read.
  ASSERT_TRUE(program.WaitForOut("(4 dropped)", kTimeoutMs)) << program.OutSoFar();
  program.Interrupt();
  const ProgramResult run = program.Wait(kTimeoutMs);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (const char* line :
       {"remote: key x=0 y=0 buttons=0x0 message=0x0100 wParam=0x00000025 lParam=0xC14B0001\n"
        "remote: dropped a datagram of 23 bytes: a record has 24 (1 dropped)\n"
        "remote: dropped a record of unknown type 9 (2 dropped)\n"
        "remote: dropped a datagram of more than 2048 bytes: a record has 24 (3 dropped)\n"
        "remote: dropped a datagram of 0 bytes: a record has 24 (4 dropped)\n",
        // Five moves and four button changes; two key events.
        "remote control: 7 records, 4 dropped, 11 input events replayed"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\nin\n" << run.out;
  }
}

}  // namespace
}  // namespace kwz_test
