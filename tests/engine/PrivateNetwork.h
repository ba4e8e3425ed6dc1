// A network namespace of the calling process's own, in which only the loopback interface exists
// and carries the multicast routes: a test there may open on 0.0.0.0 and join groups with the
// default interface without touching any interface of the machine. Call it in a forked,
// single-threaded child only; the namespace lasts as long as the process.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kwz_test {

// The namespace's own host address, on lo beside 127.0.0.1 (a documentation address, reachable
// nowhere else).
constexpr const char* kPrivateHostAddress = "198.51.100.7";

// Enters a new user and network namespace, brings lo up with kPrivateHostAddress added, and
// routes 224.0.0.0/4 through it.
// False, with the reason in *why, when the machine does not allow unprivileged namespaces.
bool EnterPrivateLoopbackNetwork(std::string* why);

// As EnterPrivateLoopbackNetwork, and the host's own address (where an endpoint on 0.0.0.0 joins
// its groups) becomes kPrivateHostAddress. False, the reason written to stderr, when the machine
// does not allow unprivileged namespaces.
bool EnterPrivateHost();

// Runs body in a forked child that first enters the private host network (EnterPrivateHost)
// and expects the child's exit status, body's result, to be 0. The test is skipped where the
// machine allows no unprivileged namespaces, and under ThreadSanitizer, which cannot follow a
// child that starts threads after the fork of a process that had some.
void ExpectPassesInPrivateHost(const std::function<int()>& body);

// The IPv4 groups (host order) that the namespace has joined on the interface named device.
std::vector<std::uint32_t> JoinedGroups(const char* device);

}  // namespace kwz_test
