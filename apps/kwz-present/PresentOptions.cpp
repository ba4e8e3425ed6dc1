#include "apps/kwz-present/PresentOptions.h"

#include <charconv>
#include <cstring>
#include <string_view>

#include "apps/ParseNumber.h"
#include "platform/winsock.h"
#include "presenter/RtpPacketizer.h"

namespace kwz_present {
namespace {

// A UDP datagram over IPv4 carries at most 65507 bytes, RTP header included.
constexpr std::size_t kMaxUdpPayload = 65507;

const char kUsage[] =
    "Usage: kwz-present [options]\n"
    "Sends a screen as RTP screen messages (payload type 113) over UDP.\n"
    "\n"
    "  --dest ADDR:PORT       destination, unicast or a multicast group (default 127.0.0.1:60004)\n"
    "  --multicast-if ADDR    interface for multicast (default 127.0.0.1)\n"
    "  --ttl N                multicast TTL, 0-255 (default 0: never leaves the machine)\n"
    "  --mode M               0 geometry, 1 zlib, 2 jpeg, 3 mpeg4, 4 h264, 5 vp8, 6 vp9\n"
    "                         (number or name; default zlib)\n"
    "  --bpp 8|24|32          pixels the viewer rebuilds: 8 or 32 for geometry and zlib, 32 for\n"
    "                         jpeg, 24 or 32 for the video modes (default 32)\n"
    "  --size WxH             synthetic screen size, 64-4096 each way (default 1280x720)\n"
    "  --fps N                frames per second, 1-60 (default 10)\n"
    "  --seconds N            stop after N seconds\n"
    "  --frames N             stop after N frames (the first limit reached ends; default: run\n"
    "                         until interrupted)\n"
    "  --bitrate KBPS         video modes: average bit rate (default 0: derived from the frame\n"
    "                         rate); jpeg: the block encoder's rate\n"
    "  --payload-size N       RTP payload bytes per datagram, 1-65495 (default 1400)\n"
    "  --ssrc N               RTP source identifier, decimal or 0x hex (default 0x4B575A31)\n"
    "  --source S             synthetic | png:FILE[,FILE...] (each image shown for one second,\n"
    "                         in turn) | x11[:DISPLAY] (the live screen of an X display,\n"
    "                         e.g. x11::0; the pointer is the cursor)\n"
    "                         (default synthetic)\n"
    "  --refresh-seconds N    resend every block (or a video key frame) at least every N\n"
    "                         seconds, 0 never (default 5)\n"
    "  --remote-port PORT     take viewers' remote-control records on UDP PORT at the\n"
    "                         --multicast-if address, print each one decoded and, with an x11\n"
    "                         source, replay it into that display (XTEST)\n"
    "  --help                 this text\n"
    "  --version              the program's version\n"
    "\n"
    "At exit one line tells what was sent. Exit status: 0 done, 1 failure, 2 bad arguments.\n";

using kwz_apps::ParseNumber;

bool ParseAddress(const std::string& text) {
  // inet_addr also takes short and octal forms; a destination is written as four decimals.
  int dots = 0;
  for (char c : text) {
    if (c == '.')
      ++dots;
    else if (c < '0' || c > '9')
      return false;
  }
  return dots == 3 && inet_addr(text.c_str()) != INADDR_NONE;
}

bool ParseMode(std::string_view text, int* mode) {
  static constexpr const char* kNames[] = {"geometry", "zlib", "jpeg", "mpeg4",
                                           "h264",     "vp8",  "vp9"};
  for (int i = 0; i < 7; ++i) {
    if (text == kNames[i]) {
      *mode = i;
      return true;
    }
  }
  return ParseNumber(text, mode, 0, 6);
}

bool ParseSize(std::string_view text, int* width, int* height) {
  const std::size_t x = text.find('x');
  return x != std::string_view::npos && ParseNumber(text.substr(0, x), width, 64, 4096) &&
         ParseNumber(text.substr(x + 1), height, 64, 4096);
}

bool ParseSource(std::string_view text, PresentOptions* options) {
  if (text == "synthetic") {
    options->source = SourceKind::kSynthetic;
    return true;
  }
  if (text == "x11" || text.starts_with("x11:")) {
    options->source = SourceKind::kX11;
    options->x11Display = text.size() > 4 ? std::string(text.substr(4)) : std::string();
    return true;
  }
  if (!text.starts_with("png:")) return false;
  options->source = SourceKind::kPng;
  options->pngFiles.clear();
  text.remove_prefix(4);
  while (true) {
    const std::size_t comma = text.find(',');
    std::string_view file = text.substr(0, comma);
    if (file.empty()) return false;
    options->pngFiles.emplace_back(file);
    if (comma == std::string_view::npos) return true;
    text.remove_prefix(comma + 1);
  }
}

}  // namespace

const char* PresentUsage() {
  return kUsage;
}

ParseResult ParsePresentOptions(int argc, const char* const* argv, PresentOptions* options,
                                std::string* error) {
  PresentOptions o;
  int bpp = 32;
  auto bad = [&](const std::string& text) {
    *error = text;
    return ParseResult::kBadArguments;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view name = argv[i];
    if (name == "--help" || name == "-h") return ParseResult::kHelp;
    if (name == "--version") return ParseResult::kVersion;
    if (!name.starts_with("--")) return bad("unexpected argument '" + std::string(name) + "'");
    if (i + 1 >= argc) return bad(std::string(name) + " needs a value (see --help)");
    const std::string value = argv[++i];
    const std::string what = std::string(name) + " " + value;
    bool ok = true;
    if (name == "--dest") {
      const std::size_t colon = value.rfind(':');
      ok = colon != std::string::npos && ParseAddress(value.substr(0, colon)) &&
           ParseNumber<std::uint16_t>(std::string_view(value).substr(colon + 1), &o.sender.port, 1,
                                      65535);
      if (ok) o.sender.address = value.substr(0, colon);
    } else if (name == "--multicast-if") {
      ok = ParseAddress(value);
      if (ok) o.sender.multicastInterface = value;
    } else if (name == "--ttl") {
      ok = ParseNumber(value, &o.sender.multicastTtl, 0, 255);
    } else if (name == "--mode") {
      ok = ParseMode(value, &o.stream.streamMode);
    } else if (name == "--bpp") {
      ok = ParseNumber(value, &bpp, 8, 32) && (bpp == 8 || bpp == 24 || bpp == 32);
    } else if (name == "--size") {
      ok = ParseSize(value, &o.width, &o.height);
    } else if (name == "--fps") {
      ok = ParseNumber(value, &o.stream.frameRate, 1, 60);
    } else if (name == "--seconds") {
      std::uint32_t seconds = 0;
      ok = ParseNumber<std::uint32_t>(value, &seconds, 1, 1000000);
      o.seconds = seconds;
    } else if (name == "--frames") {
      std::uint32_t frames = 0;
      ok = ParseNumber<std::uint32_t>(value, &frames, 1, 0xFFFFFFFFu);
      o.frames = frames;
    } else if (name == "--bitrate") {
      ok = ParseNumber(value, &o.stream.bitRateKbps, 0, 100000);
    } else if (name == "--payload-size") {
      ok = ParseNumber<std::size_t>(value, &o.sender.payloadSize, 1,
                                    kMaxUdpPayload - presenter::kRtpHeaderSize);
    } else if (name == "--ssrc") {
      ok = ParseNumber<std::uint32_t>(value, &o.sender.ssrc, 0, 0xFFFFFFFFu);
    } else if (name == "--source") {
      ok = ParseSource(value, &o);
    } else if (name == "--refresh-seconds") {
      ok = ParseNumber(value, &o.refreshSeconds, 0, 3600);
    } else if (name == "--remote-port") {
      std::uint16_t port = 0;
      ok = ParseNumber<std::uint16_t>(value, &port, 1, 65535);
      o.remotePort = port;
    } else {
      return bad("unknown option " + std::string(name) + " (see --help)");
    }
    if (!ok) return bad("bad value: " + what + " (see --help)");
  }
  o.stream.bytesPerPixel = bpp / 8;
  o.stream.refreshFrames = o.refreshSeconds * o.stream.frameRate;
  if (const char* problem = o.stream.Problem()) {
    return bad(std::string("--mode ") + std::to_string(o.stream.streamMode) + " with --bpp " +
               std::to_string(bpp) + ": " + problem);
  }
  *options = std::move(o);
  return ParseResult::kRun;
}

}  // namespace kwz_present
