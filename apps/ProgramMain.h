// The entry of the programs that run until done or interrupted (kwz-present, kwz-relay): parse
// the options, answer --help, --version or a bad argument (exit 2), then run with a stop flag that
// Ctrl-C and a polite kill set, so the program's closing summary is still written.
#pragma once

#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>

#include "apps/ProgramVersion.h"

namespace kwz_apps {

inline std::atomic<bool> g_stopRequested{false};

extern "C" inline void OnStopSignal(int) {
  g_stopRequested.store(true, std::memory_order_relaxed);
}

// ParseResult is the program's own enum with kRun, kHelp, kVersion and kBadArguments.
template <typename Options, typename ParseResult>
int RunUntilStopped(const char* program, int argc, char** argv,
                    ParseResult (*parse)(int, const char* const*, Options*, std::string*),
                    const char* (*usage)(),
                    int (*run)(const Options&, const std::atomic<bool>&, std::FILE*, std::FILE*)) {
  Options options;
  std::string error;
  switch (parse(argc, argv, &options, &error)) {
    case ParseResult::kHelp:
      std::fputs(usage(), stdout);
      return 0;
    case ParseResult::kVersion:
      return PrintVersion(program);
    case ParseResult::kBadArguments:
      std::fprintf(stderr, "%s: %s\n", program, error.c_str());
      return 2;
    case ParseResult::kRun:
      break;
  }
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
  return run(options, g_stopRequested, stdout, stderr);
}

}  // namespace kwz_apps
