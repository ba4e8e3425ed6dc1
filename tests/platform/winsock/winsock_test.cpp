// Start-up counting, handles, address parsing and host lookup of the Winsock subset.
#include "platform/winsock.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "platform/winsock_testing.h"

namespace {

class Winsock : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data_), 0); }
  void TearDown() override { WSACleanup(); }
  WSADATA data_{};
};

TEST(WinsockStartup, IsCountedAndEveryCleanupNeedsAStartup) {
  const int before = kwz_platform::WinsockStartupCount();
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  EXPECT_EQ(kwz_platform::WinsockStartupCount(), before + 2);
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

TEST(WinsockStartup, RefusedStartUpsAreNotCounted) {
  const int before = kwz_platform::WinsockStartupCount();
  WSADATA data;
  EXPECT_EQ(WSAStartup(MAKEWORD(1, 0), &data), WSAVERNOTSUPPORTED);
  EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), nullptr), WSAEFAULT);
  kwz_platform::FailNextWSAStartup(WSASYSNOTREADY);
  EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), &data), WSASYSNOTREADY);
  EXPECT_EQ(kwz_platform::WinsockStartupCount(), before);  // none of them counts
}

// A handle dies with its first close; unsupported families and options are refused, the
// receive buffer reads back as set.
TEST_F(Winsock, SocketHandlesAndOptions) {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_NE(s, INVALID_SOCKET);
  EXPECT_NE(s, 0u);
  EXPECT_LE(s, 0xFFFFFFFFu);  // shared records carry 32 bits
  int value = 565535;
  int length = sizeof value;
  ASSERT_EQ(setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&value), length), 0);
  value = 0;
  ASSERT_EQ(getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&value), &length), 0);
  EXPECT_EQ(value, 565535);
  EXPECT_EQ(setsockopt(s, SOL_SOCKET, 0x0080 /* SO_LINGER */, reinterpret_cast<char*>(&value),
                       sizeof value),
            SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOPROTOOPT);
  EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&value), 2), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
  EXPECT_EQ(closesocket(s), 0);
  EXPECT_EQ(closesocket(s), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  ULONG pending;
  EXPECT_EQ(ioctlsocket(s, FIONREAD, &pending), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(socket(23 /* AF_INET6 */, SOCK_DGRAM, 0), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
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
                      AddressCase{"1..2.3", INADDR_NONE}, AddressCase{"1.2.3.", INADDR_NONE},
                      AddressCase{"1.2.3.4.5", INADDR_NONE}, AddressCase{"08.1.1.1", INADDR_NONE},
                      AddressCase{"1.2.3.4x", INADDR_NONE}));

TEST_F(Winsock, HostLookupGoesThroughTheInstalledResolver) {
  auto previous =
      kwz_platform::SetHostResolver([](const char* name, std::vector<std::uint32_t>* addresses) {
        if (std::string(name) != "presenter") return false;
        addresses->push_back(inet_addr("127.0.0.1"));
        addresses->push_back(inet_addr("10.1.2.3"));
        return true;
      });
  hostent* host = gethostbyname("presenter");
  ASSERT_NE(host, nullptr);
  EXPECT_STREQ(host->h_name, "presenter");
  EXPECT_EQ(host->h_addrtype, AF_INET);
  EXPECT_EQ(host->h_length, 4);
  ASSERT_NE(host->h_addr_list[1], nullptr);
  EXPECT_EQ(host->h_addr_list[2], nullptr);
  const auto* second = reinterpret_cast<const unsigned char*>(host->h_addr_list[1]);
  EXPECT_EQ(second[0], 10);
  EXPECT_EQ(second[3], 3);
  EXPECT_EQ(gethostbyname("nobody"), nullptr);
  EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
  kwz_platform::SetHostResolver(previous);
}

TEST_F(Winsock, MachineResolverFindsLocalhost) {
  hostent* host = gethostbyname("localhost");
  ASSERT_NE(host, nullptr);
  ASSERT_NE(host->h_addr_list[0], nullptr);
  EXPECT_EQ(static_cast<unsigned char>(host->h_addr_list[0][0]), 127);
}

}  // namespace
