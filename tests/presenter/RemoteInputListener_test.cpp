// The presenter's remote-control socket on loopback: records printed decoded, in order;
// datagrams that are not records counted and dropped with a line; the socket's thread ended by
// Stop, its port free again.
#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/winsock.h"
#include "presenter/CRemoteInputListener.h"

namespace presenter {
namespace {

class RemoteInputListenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    sender_ = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_NE(sender_, INVALID_SOCKET);
    // The listener's lines go into a pipe, so that the test wakes as each one is written.
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    reader_ = ends[0];
    lines_ = fdopen(ends[1], "w");
    ASSERT_NE(lines_, nullptr);
  }
  void TearDown() override {
    closesocket(sender_);
    std::fclose(lines_);
    close(reader_);
    WSACleanup();
  }

  void SendTo(std::uint16_t port, const std::vector<BYTE>& datagram) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = inet_addr("127.0.0.1");
    to.sin_port = htons(port);
    ASSERT_EQ(sendto(sender_, reinterpret_cast<const char*>(datagram.data()),
                     static_cast<int>(datagram.size()), 0, reinterpret_cast<const sockaddr*>(&to),
                     sizeof to),
              static_cast<int>(datagram.size()));
  }
  void SendRecord(std::uint16_t port, const InputRecord& record) {
    BYTE bytes[kInputRecordSize];
    WriteInputRecord(record, bytes);
    SendTo(port, std::vector<BYTE>(bytes, bytes + kInputRecordSize));
  }

  // The next count lines the listener writes; fewer when it writes no more for 10 s.
  std::vector<std::string> Lines(std::size_t count) {
    std::vector<std::string> lines;
    std::string text;
    pollfd readable{reader_, POLLIN, 0};
    char chunk[512];
    while (lines.size() < count && poll(&readable, 1, 10000) == 1) {
      const ssize_t got = read(reader_, chunk, sizeof chunk);
      if (got <= 0) break;
      text.append(chunk, static_cast<std::size_t>(got));
      for (std::size_t end; (end = text.find('\n')) != std::string::npos; text.erase(0, end + 1))
        lines.push_back(text.substr(0, end));
    }
    return lines;
  }

  SOCKET sender_ = INVALID_SOCKET;
  int reader_ = -1;
  std::FILE* lines_ = nullptr;
};

TEST_F(RemoteInputListenerTest, PrintsEachRecordAndDropsWhatIsNotOne) {
  CRemoteInputListener listener("127.0.0.1", 0, false, lines_);
  ASSERT_NE(listener.Port(), 0);

  SendRecord(listener.Port(),
             InputRecord{200, -1, 0x2, kInputRecordMouse, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF});
  SendTo(listener.Port(), std::vector<BYTE>(23, 0));
  SendRecord(listener.Port(),
             InputRecord{0, 0, 0, kInputRecordKeyboard, 0, 0x0102, 0x61, 0x001E0001});
  std::vector<BYTE> unknown(kInputRecordSize, 0);
  unknown[12] = 9;
  SendTo(listener.Port(), unknown);
  SendTo(listener.Port(), std::vector<BYTE>(3000, 2));
  SendTo(listener.Port(), {});
  const std::vector<std::string> lines = Lines(6);
  listener.Stop();

  const RemoteInputCounters c = listener.Counters();
  EXPECT_EQ(c.records, 2u);
  EXPECT_EQ(c.dropped, 4u);
  EXPECT_EQ(c.replayed, 0u);
  const std::vector<std::string> expected = {
      "remote: mouse x=200 y=-1 buttons=0x2 message=0x0000 wParam=0xFFFFFFFF lParam=0xFFFFFFFF",
      "remote: dropped a datagram of 23 bytes: a record has 24 (1 dropped)",
      "remote: key x=0 y=0 buttons=0x0 message=0x0102 wParam=0x00000061 lParam=0x001E0001",
      "remote: dropped a record of unknown type 9 (2 dropped)",
      "remote: dropped a datagram of more than 2048 bytes: a record has 24 (3 dropped)",
      "remote: dropped a datagram of 0 bytes: a record has 24 (4 dropped)",
  };
  EXPECT_EQ(lines, expected);
}

TEST_F(RemoteInputListenerTest, StopsAndFreesItsPort) {
  std::uint16_t port = 0;
  {
    CRemoteInputListener listener("127.0.0.1", 0, false, lines_);
    port = listener.Port();
    EXPECT_TRUE(listener.Stop());
  }
  // The port is free again: a second listener can take it.
  CRemoteInputListener again("127.0.0.1", port, false, lines_);
  EXPECT_EQ(again.Port(), port);
}

TEST_F(RemoteInputListenerTest, RefusesAnAddressItCannotListenOn) {
  EXPECT_THROW(CRemoteInputListener("not-an-address", 0, false, lines_), exc_remote_input);
  CRemoteInputListener first("127.0.0.1", 0, false, lines_);
  EXPECT_THROW(CRemoteInputListener("127.0.0.1", first.Port(), false, lines_), exc_remote_input);
}

}  // namespace
}  // namespace presenter
