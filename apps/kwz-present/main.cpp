// kwz-present: shares a screen (synthetic, still images or a live X display) as a screen stream
// that viewers on this machine or the local network rebuild.
#include <atomic>
#include <csignal>
#include <cstdio>

#include "apps/kwz-present/PresentOptions.h"
#include "apps/kwz-present/PresentRun.h"

namespace {

std::atomic<bool> g_stop{false};

extern "C" void OnInterrupt(int) {
  g_stop.store(true, std::memory_order_relaxed);
}

}  // namespace

int main(int argc, char** argv) {
  kwz_present::PresentOptions options;
  std::string error;
  switch (kwz_present::ParsePresentOptions(argc, argv, &options, &error)) {
    case kwz_present::ParseResult::kHelp:
      std::fputs(kwz_present::PresentUsage(), stdout);
      return 0;
    case kwz_present::ParseResult::kBadArguments:
      std::fprintf(stderr, "kwz-present: %s\n", error.c_str());
      return 2;
    case kwz_present::ParseResult::kRun:
      break;
  }
  // Ctrl-C and a polite kill end the loop so the summary still gets written.
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  return kwz_present::RunPresenter(options, g_stop, stdout, stderr);
}
