// The command line of kwz-web: where the stream comes from, where the page is served and
// where remote control goes. Parsing is kept apart from running so it can be checked on its own.
#pragma once

#include <string>

#include "web/WebGateway.h"

namespace kwz_webapp {

enum class ParseResult { kRun, kHelp, kVersion, kBadArguments };

// Reads argv[1..argc-1]. kBadArguments sets *error to one line saying what is wrong.
ParseResult ParseWebOptions(int argc, const char* const* argv, kwz_web::GatewayOptions* options,
                            std::string* error);

const char* WebUsage();

}  // namespace kwz_webapp
