// The command line of kwz-viewer: where the screen stream comes from, how the control is set up,
// where it is shown and what is reported at exit. Parsing is kept apart from running so it can
// be checked on its own.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kwz_viewer {

struct ViewerOptions {
  std::string sourceAddress;  // --source-address: SourceAddress
  std::string sourcePort;     // --source-port: SourcePort
  std::string group;          // --group: JoinMulticastGroup
  bool stretch = false;       // --stretch: EnableStretch
  int width = 800;            // --size WxH: the control's initial client size
  int height = 600;
  std::vector<std::pair<std::string, std::string>> settings;  // --set KEY=VALUE, in order
  std::vector<std::string> queries;                           // --get KEY, in order
  std::string serverAddress;                                  // --server-address: ServerAddress
  std::string serverPort;                                     // --server-port: ServerPort
  bool remoteControl = false;           // --remote-control: StartRemoteControl after Start
  bool headless = false;                // --headless, or no DISPLAY
  std::optional<unsigned long> parent;  // --parent XID
  std::string snapshot;                 // --snapshot FILE
  std::optional<unsigned> seconds;      // --seconds N
};

enum class ParseResult { kRun, kHelp, kVersion, kBadArguments };

// Reads argv[1..argc-1]. kBadArguments sets *error to one line saying what is wrong.
ParseResult ParseViewerOptions(int argc, const char* const* argv, ViewerOptions* options,
                               std::string* error);

const char* ViewerUsage();

}  // namespace kwz_viewer
