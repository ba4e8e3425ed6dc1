#include "apps/kwz-web/WebOptions.h"

#include <boost/asio/ip/address_v4.hpp>
#include <string_view>

#include "apps/ParseNumber.h"

namespace kwz_webapp {
namespace {

const char kUsage[] =
    "Usage: kwz-web --source-address ADDR --source-port PORT [options]\n"
    "Receives a screen stream and shows it in web browsers: open the address it prints.\n"
    "\n"
    "  --source-address ADDR   local IPv4 address (interface) the stream arrives on\n"
    "  --source-port PORT      UDP port of the stream, even, 2-65534\n"
    "  --group GROUP           IPv4 multicast group to join on that interface\n"
    "  --http ADDR:PORT        where the page is served (default 127.0.0.1:8080; port 0: any\n"
    "                          free port). Other machines reach it only if ADDR lets them.\n"
    "  --server-address ADDR   the presenter's machine, for remote control\n"
    "  --server-port PORT      the presenter's remote-control port\n"
    "  --remote-control        let one browser at a time control the presenter's machine\n"
    "  --token TEXT            the access token (default: a random one), 16-64 letters or digits\n"
    "  --help                  this text\n"
    "  --version               the program's version\n"
    "\n"
    "At start one line gives the page's address with its access token; a browser without the\n"
    "token is refused. Ctrl-C ends the program.\n"
    "Exit status: 0 done, 1 failure, 2 bad arguments.\n";

using kwz_apps::ParseNumber;

bool IsIpv4(std::string_view text) {
  boost::system::error_code error;
  boost::asio::ip::make_address_v4(std::string(text), error);
  return !error;
}

bool IsToken(std::string_view text) {
  if (text.size() < 16 || text.size() > 64) return false;
  for (const char c : text) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alnum) return false;
  }
  return true;
}

}  // namespace

const char* WebUsage() {
  return kUsage;
}

ParseResult ParseWebOptions(int argc, const char* const* argv, kwz_web::GatewayOptions* options,
                            std::string* error) {
  kwz_web::GatewayOptions o;
  bool haveSource = false, havePort = false, remoteControl = false, haveServerPort = false;
  auto bad = [&](const std::string& text) {
    *error = text;
    return ParseResult::kBadArguments;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view name = argv[i];
    if (name == "--help" || name == "-h") return ParseResult::kHelp;
    if (name == "--version") return ParseResult::kVersion;
    if (name == "--remote-control") {
      remoteControl = true;
      continue;
    }
    if (!name.starts_with("--")) return bad("unexpected argument '" + std::string(name) + "'");
    if (i + 1 >= argc) return bad(std::string(name) + " needs a value");
    const std::string_view value = argv[++i];
    const std::string quoted = "'" + std::string(value) + "'";
    const std::string prefix = std::string(name) + ": ";
    if (name == "--source-address") {
      if (!IsIpv4(value)) return bad(prefix + quoted + " is not an IPv4 address");
      o.source.address = value;
      haveSource = true;
    } else if (name == "--source-port") {
      if (!ParseNumber<std::uint16_t>(value, &o.source.port, 2, 65534) || o.source.port % 2 != 0)
        return bad(prefix + quoted +
                   " is not an even port (2-65534): an RTP stream's port is even");
      havePort = true;
    } else if (name == "--group") {
      if (!IsIpv4(value) ||
          (boost::asio::ip::make_address_v4(std::string(value)).to_uint() >> 28) != 0xE)
        return bad(prefix + quoted + " is not an IPv4 multicast group");
      o.source.group = std::string(value);
    } else if (name == "--http") {
      const std::size_t colon = value.rfind(':');
      if (colon == std::string_view::npos || !IsIpv4(value.substr(0, colon)) ||
          !ParseNumber<std::uint16_t>(value.substr(colon + 1), &o.httpPort, 0, 65535))
        return bad(prefix + quoted + " is not ADDRESS:PORT with an IPv4 address");
      o.httpAddress = value.substr(0, colon);
    } else if (name == "--server-address") {
      if (!IsIpv4(value)) return bad(prefix + quoted + " is not an IPv4 address");
      o.serverAddress = std::string(value);
    } else if (name == "--server-port") {
      if (!ParseNumber<std::uint16_t>(value, &o.serverPort, 1, 65535))
        return bad(prefix + quoted + " is not a port (1-65535)");
      haveServerPort = true;
    } else if (name == "--token") {
      if (!IsToken(value)) return bad(prefix + "give 16 to 64 letters or digits");
      o.token = value;
    } else {
      return bad("unknown option " + std::string(name));
    }
  }
  if (!haveSource || !havePort) return bad("--source-address and --source-port are both needed");
  if (remoteControl && (!o.serverAddress || !haveServerPort))
    return bad("--remote-control needs --server-address and --server-port");
  if (!remoteControl && (o.serverAddress || haveServerPort))
    return bad("--server-address and --server-port go with --remote-control");
  *options = std::move(o);
  return ParseResult::kRun;
}

}  // namespace kwz_webapp
