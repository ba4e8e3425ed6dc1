// The relay's loop: datagrams from 127.0.0.1:listen through the impairment decisions to
// 127.0.0.1:to, until the count or the time runs out or the stop flag is raised (from a signal
// handler). Runs on the calling thread.
#pragma once

#include <atomic>
#include <cstdio>

#include "apps/kwz-relay/RelayOptions.h"

namespace kwz_relay {

// Prints a start line and, at the end, one line of statistics to out; failures to err.
// Returns the exit status: 0 done, 1 failure.
int RunRelay(const RelayOptions& options, const std::atomic<bool>& stop, std::FILE* out,
             std::FILE* err);

}  // namespace kwz_relay
