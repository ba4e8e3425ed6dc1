// kwz-relay: a loopback UDP relay that loses, doubles, reorders, delays and rewrites datagrams on
// purpose, seeded, so that a receiver's handling of a bad network can be watched and replayed.
#include <atomic>
#include <csignal>
#include <cstdio>

#include "apps/kwz-relay/RelayOptions.h"
#include "apps/kwz-relay/RelayRun.h"

namespace {

std::atomic<bool> g_stop{false};

extern "C" void OnInterrupt(int) {
  g_stop.store(true, std::memory_order_relaxed);
}

}  // namespace

int main(int argc, char** argv) {
  kwz_relay::RelayOptions options;
  std::string error;
  switch (kwz_relay::ParseRelayOptions(argc, argv, &options, &error)) {
    case kwz_relay::ParseResult::kHelp:
      std::fputs(kwz_relay::RelayUsage(), stdout);
      return 0;
    case kwz_relay::ParseResult::kBadArguments:
      std::fprintf(stderr, "kwz-relay: %s\n", error.c_str());
      return 2;
    case kwz_relay::ParseResult::kRun:
      break;
  }
  // Ctrl-C and a polite kill end the loop so the statistics still get written.
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  return kwz_relay::RunRelay(options, g_stop, stdout, stderr);
}
