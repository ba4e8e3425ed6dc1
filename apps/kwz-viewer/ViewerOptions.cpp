#include "apps/kwz-viewer/ViewerOptions.h"

#include <cerrno>
#include <cstdlib>

namespace kwz_viewer {
namespace {

// The whole text as an unsigned number no larger than limit.
bool ReadNumber(const std::string& text, unsigned long limit, unsigned long* value, int base = 10) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long number = std::strtoull(text.c_str(), &end, base);
  if (errno != 0 || end == nullptr || *end != '\0' || number > limit) return false;
  *value = static_cast<unsigned long>(number);
  return true;
}

bool ReadSize(const std::string& text, int* width, int* height) {
  const std::size_t x = text.find('x');
  unsigned long w = 0;
  unsigned long h = 0;
  if (x == std::string::npos || !ReadNumber(text.substr(0, x), 16384, &w) ||
      !ReadNumber(text.substr(x + 1), 16384, &h) || w == 0 || h == 0) {
    return false;
  }
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return true;
}

}  // namespace

ParseResult ParseViewerOptions(int argc, const char* const* argv, ViewerOptions* options,
                               std::string* error) {
  bool headlessAsked = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) {
        *error = arg + " needs a value";
        return false;
      }
      *out = argv[++i];
      return true;
    };
    std::string text;
    if (arg == "--help" || arg == "-h") {
      return ParseResult::kHelp;
    } else if (arg == "--version") {
      return ParseResult::kVersion;
    } else if (arg == "--stretch") {
      options->stretch = true;
    } else if (arg == "--remote-control") {
      options->remoteControl = true;
    } else if (arg == "--headless") {
      headlessAsked = true;
    } else if (arg == "--source-address") {
      if (!value(&options->sourceAddress)) return ParseResult::kBadArguments;
    } else if (arg == "--group") {
      if (!value(&options->group)) return ParseResult::kBadArguments;
    } else if (arg == "--server-address") {
      if (!value(&options->serverAddress)) return ParseResult::kBadArguments;
    } else if (arg == "--source-port" || arg == "--server-port") {
      if (!value(&text)) return ParseResult::kBadArguments;
      unsigned long port = 0;
      if (!ReadNumber(text, 65535, &port)) {
        *error = arg + ": '" + text + "' is not a port number (0 to 65535)";
        return ParseResult::kBadArguments;
      }
      (arg == "--source-port" ? options->sourcePort : options->serverPort) = text;
    } else if (arg == "--size") {
      if (!value(&text)) return ParseResult::kBadArguments;
      if (!ReadSize(text, &options->width, &options->height)) {
        *error = "--size: '" + text + "' is not WIDTHxHEIGHT (1 to 16384 each)";
        return ParseResult::kBadArguments;
      }
    } else if (arg == "--set") {
      if (!value(&text)) return ParseResult::kBadArguments;
      const std::size_t eq = text.find('=');
      if (eq == std::string::npos || eq == 0) {
        *error = "--set: '" + text + "' is not KEY=VALUE";
        return ParseResult::kBadArguments;
      }
      options->settings.emplace_back(text.substr(0, eq), text.substr(eq + 1));
    } else if (arg == "--get") {
      if (!value(&text)) return ParseResult::kBadArguments;
      if (text.empty()) {
        *error = "--get needs a key";
        return ParseResult::kBadArguments;
      }
      options->queries.push_back(text);
    } else if (arg == "--parent") {
      if (!value(&text)) return ParseResult::kBadArguments;
      unsigned long xid = 0;
      if (!ReadNumber(text, 0xFFFFFFFFul, &xid, 0) || xid == 0) {
        *error = "--parent: '" + text + "' is not an X window id (decimal or 0x hex)";
        return ParseResult::kBadArguments;
      }
      options->parent = xid;
    } else if (arg == "--snapshot") {
      if (!value(&options->snapshot)) return ParseResult::kBadArguments;
      if (options->snapshot.empty()) {
        *error = "--snapshot needs a file name";
        return ParseResult::kBadArguments;
      }
    } else if (arg == "--seconds") {
      if (!value(&text)) return ParseResult::kBadArguments;
      unsigned long seconds = 0;
      if (!ReadNumber(text, 86400, &seconds)) {
        *error = "--seconds: '" + text + "' is not a number of seconds (0 to 86400)";
        return ParseResult::kBadArguments;
      }
      options->seconds = static_cast<unsigned>(seconds);
    } else {
      *error = "unknown argument '" + arg + "'";
      return ParseResult::kBadArguments;
    }
  }
  // The control cannot start without an address to receive on; saying so here beats the
  // control's own "Invalid local address." after the window is up.
  if (options->sourceAddress.empty() && options->group.empty()) {
    *error = "no stream source: give --source-address ADDR or --group ADDR";
    return ParseResult::kBadArguments;
  }
  if (options->remoteControl && (options->serverAddress.empty() || options->serverPort.empty())) {
    *error = "--remote-control needs --server-address and --server-port";
    return ParseResult::kBadArguments;
  }
  const char* display = std::getenv("DISPLAY");
  options->headless = headlessAsked || display == nullptr || display[0] == '\0';
  if (options->parent && options->headless) {
    *error = "--parent needs an X display (it cannot be used with --headless or without DISPLAY)";
    return ParseResult::kBadArguments;
  }
  return ParseResult::kRun;
}

const char* ViewerUsage() {
  return "Usage: kwz-viewer [options]\n"
         "Shows the screen that kwz-present (or any presenter) streams, through the\n"
         "KWZ_ScreenReceiver.KWZ_ScreenReceiver control, in a window of its own.\n"
         "\n"
         "  --source-address ADDR   local address to receive on (SourceAddress)\n"
         "  --source-port PORT      UDP port of the stream (SourcePort)\n"
         "  --group ADDR            multicast group to join (JoinMulticastGroup); the control\n"
         "                          then listens on every interface, joins on the host name's\n"
         "                          first non-loopback address and does not use\n"
         "                          --source-address (which alone joins the control's own group\n"
         "                          on that address)\n"
         "                          one of --source-address and --group is required\n"
         "  --stretch               stretch the screen to the window (EnableStretch)\n"
         "  --size WxH              initial client size (default 800x600)\n"
         "  --set KEY=VALUE         a named setting (SetProperties); repeatable\n"
         "  --get KEY               print KEY=VALUE (GetProperties) at exit; repeatable\n"
         "  --server-address ADDR   presenter to send remote-control input to (ServerAddress)\n"
         "  --server-port PORT      its port (ServerPort)\n"
         "  --remote-control        StartRemoteControl after Start\n"
         "  --headless              no X window (the default when DISPLAY is unset)\n"
         "  --parent XID            show the control inside that existing X window\n"
         "  --snapshot FILE         at exit, write the control window's pixels as PNG\n"
         "  --seconds N             exit after N seconds (else: window closed, Ctrl+C, SIGTERM)\n"
         "  --help                  this text\n"
         "  --version               the program's version\n"
         "\n"
         "stdout: one line 'SizeUpdated <dx> <dy>' per event, then the --get lines.\n"
         "errors: 'error: <name> 0x<code>: <description>' on stderr, exit status 1.\n"
         "The control's module must be registered: kwz-regsvr [--user] <path to\n"
         "libkwz_screenreceiver.so> (the package's is /usr/lib/kwz/libkwz_screenreceiver.so).\n";
}

}  // namespace kwz_viewer
