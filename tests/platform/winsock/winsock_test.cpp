// Start-up counting, handles and options, and address parsing of the Winsock subset. (Host
// lookup through an installed resolver is the network's and the engine's tests'.)
#include "platform/winsock.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "platform/winsock_testing.h"

namespace {

TEST(WinsockStartup, IsCountedAndEveryCleanupNeedsAStartup) {
  const int before = kwz_platform::WinsockStartupCount();
  WSADATA data;
  EXPECT_EQ(WSAStartup(MAKEWORD(1, 0), &data), WSAVERNOTSUPPORTED);
  EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), nullptr), WSAEFAULT);
  EXPECT_EQ(kwz_platform::WinsockStartupCount(), before) << "refused start-ups do not count";
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  EXPECT_EQ(WSACleanup(), 0);
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);  // one start-up is still outstanding
  EXPECT_NE(s, INVALID_SOCKET);
  EXPECT_EQ(closesocket(s), 0);
  EXPECT_EQ(WSACleanup(), 0);
  EXPECT_EQ(kwz_platform::WinsockStartupCount(), before);
  if (before == 0) {
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(socket(AF_INET, SOCK_DGRAM, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
  }
}

// A handle dies with its first close; the receive buffer reads back as set; the machine's
// resolver finds localhost.
TEST(Winsock, SocketHandlesAndOptions) {
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_NE(s, INVALID_SOCKET);
  EXPECT_LE(s, 0xFFFFFFFFu);  // shared records carry 32 bits
  int value = 565535;
  int length = sizeof value;
  ASSERT_EQ(setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&value), length), 0);
  value = 0;
  ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&value), &length), 0);
  EXPECT_EQ(value, 565535);
  EXPECT_EQ(closesocket(s), 0);
  EXPECT_EQ(closesocket(s), SOCKET_ERROR);
  ULONG pending;
  EXPECT_EQ(ioctlsocket(s, FIONREAD, &pending), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  const hostent* host = gethostbyname("localhost");  // the machine's own resolver
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(static_cast<unsigned char>(host->h_addr_list[0][0]), 127);
  WSACleanup();
}

struct AddressCase {
  const char* text;
  ULONG hostOrder;
};
void PrintTo(const AddressCase& c, std::ostream* os) {
  *os << '"' << (c.text ? c.text : "(null)") << '"';
}

class InetAddr : public ::testing::TestWithParam<AddressCase> {};

TEST_P(InetAddr, GivesWindowsAnswer) {
  EXPECT_EQ(ntohl(inet_addr(GetParam().text)), GetParam().hostOrder);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, InetAddr,
    ::testing::Values(AddressCase{"127.0.0.1", 0x7F000001},
                      // Fewer parts: the last one fills the remaining bytes.
                      AddressCase{"10.65535", 0x0A00FFFF}, AddressCase{"16909060", 0x01020304},
                      // Octal and hexadecimal parts.
                      AddressCase{"0x7f.1", 0x7F000001}, AddressCase{"010.0.0.1", 0x08000001},
                      // A blank ends the text; a text that starts with one is 0.
                      AddressCase{"1.2.3.4 trailing", 0x01020304}, AddressCase{" ", 0},
                      // Malformed, and the one valid address that looks the same.
                      AddressCase{nullptr, INADDR_NONE}, AddressCase{"", INADDR_NONE},
                      AddressCase{"255.255.255.255", INADDR_NONE},
                      AddressCase{"1.2.3.256", INADDR_NONE}, AddressCase{"256.1.2.3", INADDR_NONE},
                      AddressCase{"1.2.65536", INADDR_NONE}, AddressCase{"4294967296", INADDR_NONE},
                      AddressCase{"1..2.3", INADDR_NONE}, AddressCase{"1.2.3.4.5", INADDR_NONE},
                      AddressCase{"08.1.1.1", INADDR_NONE}, AddressCase{"1.2.3.4x", INADDR_NONE}));

}  // namespace
