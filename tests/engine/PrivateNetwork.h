// A network namespace of a forked child's own, in which only the loopback interface exists and
// carries the multicast routes: a test there may open on 0.0.0.0 and join groups with the
// default interface without touching any interface of the machine.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace kwz_test {

// The namespace's own host address, on lo beside 127.0.0.1 (a documentation address, reachable
// nowhere else); an endpoint on 0.0.0.0 joins its groups there.
constexpr const char* kPrivateHostAddress = "198.51.100.7";

// Runs body in a forked child that first enters a new user and network namespace, brings lo up
// with kPrivateHostAddress added and routes 224.0.0.0/4 through it, and expects the child's exit
// status, body's result, to be 0. The test is skipped where the machine allows no unprivileged
// namespaces, and under ThreadSanitizer, which cannot follow a child that starts threads after
// the fork of a process that had some.
void ExpectPassesInPrivateHost(const std::function<int()>& body);

// The IPv4 groups (host order) that the namespace has joined on the interface named device.
std::vector<std::uint32_t> JoinedGroups(const char* device);

}  // namespace kwz_test
