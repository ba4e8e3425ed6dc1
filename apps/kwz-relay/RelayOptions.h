// The command line of kwz-relay: the two loopback ports, the impairments and the limits of a
// run. Parsing is kept apart from running so it can be checked on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "impair/ImpairScript.h"
#include "impair/ImpairSettings.h"

namespace kwz_relay {

struct RelayOptions {
  std::uint16_t listenPort = 0;  // --listen: datagrams come in on 127.0.0.1:PORT
  std::uint16_t targetPort = 0;  // --to: and go out to 127.0.0.1:PORT
  ImpairSettings impair;
  ImpairScript script;                   // --script FILE and --script-text TEXT, in order
  std::optional<std::uint64_t> count;    // --count: stop after this many datagrams in
  std::optional<std::uint32_t> seconds;  // --seconds: stop after this long
};

enum class ParseResult { kRun, kHelp, kVersion, kBadArguments };

// Reads argv[1..argc-1]. kBadArguments sets *error to one line saying what is wrong.
ParseResult ParseRelayOptions(int argc, const char* const* argv, RelayOptions* options,
                              std::string* error);

const char* RelayUsage();

}  // namespace kwz_relay
