// Seams of the Winsock subset for tests: faults that a test cannot cause for real, and a resolver
// in place of the machine's, so that host-address discovery never depends on the interfaces of
// the machine the tests run on.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#pragma GCC visibility push(default)

namespace kwz_platform {

// Start-ups not yet balanced by a clean-up, in this process.
int WinsockStartupCount();

// The next WSAStartup of the process fails with this Winsock error code and changes nothing.
void FailNextWSAStartup(int error);

// The next socket() of the process fails with this Winsock error code (as when the system has
// no descriptor or buffer left) and creates nothing. 0 cancels a failure not yet used.
void FailNextSocket(int error);

// Answers gethostbyname instead of the machine's resolver while installed: fills the host's IPv4
// addresses (network order) or returns false for an unknown host. An empty function restores the
// machine's resolver. Returns the previous one.
using HostResolver = std::function<bool(const char* name, std::vector<std::uint32_t>* addresses)>;
HostResolver SetHostResolver(HostResolver resolver);

}  // namespace kwz_platform

#pragma GCC visibility pop
