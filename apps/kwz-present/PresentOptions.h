// The command line of kwz-present: where the stream goes, how the screen is coded, where the
// frames come from and for how long. Parsing is kept apart from running so it can be checked on
// its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "presenter/CScreenSender.h"
#include "presenter/ScreenStreamSettings.h"

namespace kwz_present {

enum class SourceKind { kSynthetic, kPng, kX11 };

struct PresentOptions {
  presenter::ScreenSenderSettings sender;  // --dest, --multicast-if, --ttl, --payload-size, --ssrc
  presenter::ScreenStreamSettings stream;  // --mode, --bpp, --fps, --bitrate, --refresh-seconds
  int width = 1280;                        // --size, synthetic source only
  int height = 720;
  std::optional<std::uint32_t> frames;   // --frames
  std::optional<std::uint32_t> seconds;  // --seconds
  int refreshSeconds = 5;
  SourceKind source = SourceKind::kSynthetic;
  std::vector<std::string> pngFiles;
  std::string x11Display;  // empty: $DISPLAY
  // --remote-port: where viewers' remote-control records are taken, on the address of
  // sender.multicastInterface (the presenter's own interface).
  std::optional<std::uint16_t> remotePort;
};

enum class ParseResult { kRun, kHelp, kVersion, kBadArguments };

// Reads argv[1..argc-1]. kBadArguments sets *error to one line saying what is wrong.
ParseResult ParsePresentOptions(int argc, const char* const* argv, PresentOptions* options,
                                std::string* error);

// The --help text.
const char* PresentUsage();

}  // namespace kwz_present
