// Winsock start-up and clean-up, last error, byte order and address parsing.
#include <atomic>
#include <cstring>

#include "platform/kernel.h"
#include "platform/winerror.h"
#include "platform/winsock.h"
#include "platform/winsock_testing.h"

#include "winsock/socket_object.h"

namespace kwz_platform {
namespace {

std::atomic<int> g_startups{0};
std::atomic<int> g_failNextStartup{0};

}  // namespace

int WinsockStartupCount() {
  return g_startups.load();
}

void FailNextWSAStartup(int error) {
  g_failNextStartup.store(error);
}

bool WinsockStarted() {
  if (g_startups.load(std::memory_order_relaxed) > 0) return true;
  WSASetLastError(WSANOTINITIALISED);
  return false;
}

}  // namespace kwz_platform

int WSAStartup(WORD versionRequested, LPWSADATA data) {
  if (int injected = kwz_platform::g_failNextStartup.exchange(0)) return injected;
  if (data == nullptr) return WSAEFAULT;
  const BYTE major = static_cast<BYTE>(versionRequested & 0xFF);
  const BYTE minor = static_cast<BYTE>(versionRequested >> 8);
  if (major == 0 || (major == 1 && minor == 0)) return WSAVERNOTSUPPORTED;
  std::memset(data, 0, sizeof *data);
  const WORD highest = MAKEWORD(2, 2);
  data->wVersion = (major > 2 || (major == 2 && minor >= 2)) ? highest : versionRequested;
  data->wHighVersion = highest;
  std::strcpy(data->szDescription, "WinSock 2.0");
  std::strcpy(data->szSystemStatus, "Running");
  kwz_platform::g_startups.fetch_add(1);
  return 0;
}

int WSACleanup() {
  int count = kwz_platform::g_startups.load();
  do {
    if (count <= 0) {
      WSASetLastError(WSANOTINITIALISED);
      return SOCKET_ERROR;
    }
  } while (!kwz_platform::g_startups.compare_exchange_weak(count, count - 1));
  return 0;
}

int WSAGetLastError() {
  return static_cast<int>(GetLastError());
}

void WSASetLastError(int error) {
  SetLastError(static_cast<DWORD>(error));
}

USHORT htons(USHORT value) {
  return __builtin_bswap16(value);
}
USHORT ntohs(USHORT value) {
  return __builtin_bswap16(value);
}
ULONG htonl(ULONG value) {
  return __builtin_bswap32(value);
}
ULONG ntohl(ULONG value) {
  return __builtin_bswap32(value);
}

namespace {

// One part of a dotted address: decimal, octal after a leading 0, hexadecimal after 0x. Returns
// false on a part without digits, a digit outside its base or a value beyond 32 bits.
bool ParsePart(const char*& p, std::uint64_t* value) {
  unsigned base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    base = 16;
    p += 2;
  } else if (p[0] == '0') {
    base = 8;
  }
  const char* start = p;
  std::uint64_t result = 0;
  for (;; ++p) {
    unsigned digit;
    if (*p >= '0' && *p <= '9') {
      digit = static_cast<unsigned>(*p - '0');
    } else if (base == 16 && *p >= 'a' && *p <= 'f') {
      digit = static_cast<unsigned>(*p - 'a' + 10);
    } else if (base == 16 && *p >= 'A' && *p <= 'F') {
      digit = static_cast<unsigned>(*p - 'A' + 10);
    } else {
      break;
    }
    if (digit >= base) return false;
    result = result * base + digit;
    if (result > 0xFFFFFFFFu) return false;
  }
  if (p == start && base != 16) return false;
  *value = result;
  return true;
}

}  // namespace

ULONG inet_addr(const char* text) {
  if (text == nullptr || *text == '\0') return INADDR_NONE;
  if (*text == ' ') return 0;
  std::uint64_t parts[4];
  int count = 0;
  const char* p = text;
  for (;;) {
    if (count == 4 || !ParsePart(p, &parts[count])) return INADDR_NONE;
    ++count;
    if (*p == '.') {
      ++p;
      continue;
    }
    if (*p == '\0' || *p == ' ') break;
    return INADDR_NONE;
  }
  // The last part fills the bytes that the parts before it leave.
  std::uint64_t address = 0;
  for (int i = 0; i < count - 1; ++i) {
    if (parts[i] > 0xFF) return INADDR_NONE;
    address |= parts[i] << (24 - 8 * i);
  }
  const std::uint64_t lastLimit = 0xFFFFFFFFull >> (8 * (count - 1));
  if (parts[count - 1] > lastLimit) return INADDR_NONE;
  address |= parts[count - 1];
  return htonl(static_cast<ULONG>(address));
}
