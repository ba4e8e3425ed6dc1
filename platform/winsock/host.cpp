// Host names: gethostname and gethostbyname (IPv4 only), with a resolver that tests replace.
#include <mutex>
#include <string>
#include <vector>

#include "platform/winerror.h"
#include "platform/winsock.h"
#include "platform/winsock_testing.h"

#include "winsock/socket_object.h"

namespace kwz_platform {
namespace {

struct Resolver {
  std::mutex lock;
  HostResolver injected;  // guarded by lock
};

Resolver& TheResolver() {
  static Resolver* resolver = new Resolver;
  return *resolver;
}

bool Resolve(const char* name, std::vector<std::uint32_t>* addresses) {
  HostResolver injected;
  {
    Resolver& resolver = TheResolver();
    std::lock_guard<std::mutex> guard(resolver.lock);
    injected = resolver.injected;
  }
  return injected ? injected(name, addresses) : ResolveHostIPv4(name, addresses);
}

// The entry that gethostbyname hands out, one per thread as Winsock keeps it.
struct HostEntry {
  std::string name;
  std::vector<std::uint32_t> addresses;
  std::vector<char*> addressList;
  char* aliases[1] = {nullptr};
  hostent entry{};
};

}  // namespace

HostResolver SetHostResolver(HostResolver resolver) {
  Resolver& theResolver = TheResolver();
  std::lock_guard<std::mutex> guard(theResolver.lock);
  HostResolver previous = std::move(theResolver.injected);
  theResolver.injected = std::move(resolver);
  return previous;
}

}  // namespace kwz_platform

int gethostname(char* name, int length) {
  if (!kwz_platform::WinsockStarted()) return SOCKET_ERROR;
  if (name == nullptr || length <= 0) {
    WSASetLastError(WSAEFAULT);
    return SOCKET_ERROR;
  }
  if (int error = kwz_platform::LocalHostName(name, static_cast<std::size_t>(length))) {
    WSASetLastError(error);
    return SOCKET_ERROR;
  }
  return 0;
}

hostent* gethostbyname(const char* name) {
  if (!kwz_platform::WinsockStarted()) return nullptr;
  thread_local kwz_platform::HostEntry t_entry;
  char local[256];
  if (name == nullptr) {  // Windows answers for the local host
    if (gethostname(local, sizeof local) != 0) return nullptr;
    name = local;
  }
  std::vector<std::uint32_t> addresses;
  if (!kwz_platform::Resolve(name, &addresses) || addresses.empty()) {
    WSASetLastError(WSAHOST_NOT_FOUND);
    return nullptr;
  }
  kwz_platform::HostEntry& e = t_entry;
  e.name = name;
  e.addresses = std::move(addresses);
  e.addressList.clear();
  for (std::uint32_t& address : e.addresses)
    e.addressList.push_back(reinterpret_cast<char*>(&address));
  e.addressList.push_back(nullptr);
  e.entry.h_name = e.name.data();
  e.entry.h_aliases = e.aliases;
  e.entry.h_addrtype = AF_INET;
  e.entry.h_length = 4;
  e.entry.h_addr_list = e.addressList.data();
  return &e.entry;
}
