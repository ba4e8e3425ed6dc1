// The machine's host name and resolver, behind gethostname and gethostbyname.
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/winerror.h"

#include "winsock/socket_object.h"

namespace kwz_platform {

int LocalHostName(char* name, std::size_t length) {
  char full[256];
  if (::gethostname(full, sizeof full) != 0) return WsaErrorFromErrno(errno);
  full[sizeof full - 1] = '\0';
  // Windows refuses a buffer that cannot hold the whole name instead of cutting it.
  if (std::strlen(full) + 1 > length) return WSAEFAULT;
  std::memcpy(name, full, std::strlen(full) + 1);
  return 0;
}

bool ResolveHostIPv4(const char* name, std::vector<std::uint32_t>* addresses) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name, nullptr, &hints, &found) != 0) return false;
  for (addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    std::uint32_t address = reinterpret_cast<sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
    if (std::find(addresses->begin(), addresses->end(), address) == addresses->end())
      addresses->push_back(address);
  }
  freeaddrinfo(found);
  return !addresses->empty();
}

}  // namespace kwz_platform
