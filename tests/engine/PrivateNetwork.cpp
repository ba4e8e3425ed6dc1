#include "tests/engine/PrivateNetwork.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/winsock_testing.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Sanitizers.h"

namespace kwz_test {
namespace {

sockaddr_in Ipv4(const char* dotted) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = inet_addr(dotted);
  return address;
}

// False, the failing step written to stderr, when the machine allows no unprivileged namespaces.
bool EnterPrivateHost() {
  const char* step = "unshare";
  const int s = unshare(CLONE_NEWUSER | CLONE_NEWNET) == 0 ? socket(AF_INET, SOCK_DGRAM, 0) : -1;
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = s >= 0 && ioctl(s, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
  ok = ok && (step = "bringing lo up", ioctl(s, SIOCSIFFLAGS, &request) == 0);
  // A host address besides 127.0.0.1, as a machine has on its network card.
  ifreq alias{};
  std::strncpy(alias.ifr_name, "lo:1", IFNAMSIZ - 1);
  const sockaddr_in host = Ipv4(kPrivateHostAddress);
  std::memcpy(&alias.ifr_addr, &host, sizeof host);
  ok = ok && (step = "host address", ioctl(s, SIOCSIFADDR, &alias) == 0);
  // Joins with the default interface pick it by the route to the group.
  rtentry route{};
  const sockaddr_in destination = Ipv4("224.0.0.0");
  const sockaddr_in mask = Ipv4("240.0.0.0");
  std::memcpy(&route.rt_dst, &destination, sizeof destination);
  std::memcpy(&route.rt_genmask, &mask, sizeof mask);
  char device[] = "lo";
  route.rt_dev = device;
  route.rt_flags = RTF_UP;
  ok = ok && (step = "multicast route", ioctl(s, SIOCADDRT, &route) == 0 || errno == EEXIST);
  if (!ok)
    std::fprintf(stderr, "no private network namespace: %s: %s\n", step, std::strerror(errno));
  if (s >= 0) close(s);
  if (!ok) return false;
  kwz_platform::SetHostResolver([](const char*, std::vector<std::uint32_t>* addresses) {
    addresses->push_back(inet_addr(kPrivateHostAddress));
    return true;
  });
  return true;
}

}  // namespace

// /proc/net/igmp lists each device on a line that starts with its index, followed by one
// tab-indented line per group, the group printed as the hexadecimal of its network-order word.
std::vector<std::uint32_t> JoinedGroups(const char* device) {
  std::vector<std::uint32_t> groups;
  std::ifstream table("/proc/net/igmp");
  bool inDevice = false;
  for (std::string line; std::getline(table, line);) {
    std::istringstream fields(line);
    std::string first, second;
    fields >> first >> second;
    if (line.empty()) continue;
    if (line[0] != '\t' && line[0] != ' ') {
      inDevice = second == device;
    } else if (inDevice) {
      groups.push_back(ntohl(static_cast<std::uint32_t>(std::strtoul(first.c_str(), nullptr, 16))));
    }
  }
  return groups;
}

void ExpectPassesInPrivateHost(const std::function<int()>& body) {
  KWZ_SKIP_UNDER_TSAN("threads in a forked child");
  constexpr int kNoNamespace = 77;
  ChildProcess child(
      [&body](const ChildProcess::Channel&) { return EnterPrivateHost() ? body() : kNoNamespace; });
  const int status = child.Wait();
  if (status == kNoNamespace) GTEST_SKIP() << "unprivileged network namespaces are not available";
  EXPECT_EQ(status, 0) << "the child's check that failed";
}

}  // namespace kwz_test
