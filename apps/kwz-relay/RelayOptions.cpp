#include "apps/kwz-relay/RelayOptions.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <string_view>

#include "apps/ParseNumber.h"

namespace kwz_relay {
namespace {

const char kUsage[] =
    "Usage: kwz-relay --listen PORT --to PORT [options]\n"
    "Forwards UDP datagrams from 127.0.0.1:PORT to 127.0.0.1:PORT, impairing them on the way.\n"
    "Both ends are always on the loopback interface: there is no way to name another address.\n"
    "\n"
    "  --listen PORT          port to receive on, at 127.0.0.1\n"
    "  --to PORT              port to forward to, at 127.0.0.1\n"
    "  --loss PCT             share of datagrams lost, 0-100 (default 0)\n"
    "  --burst N              mean length of a run of losses, 1-1000 (default 1: independent)\n"
    "  --dup PCT              share of datagrams sent twice, 0-100\n"
    "  --reorder PCT          share of datagrams held back behind later ones, 0-100\n"
    "  --depth N              how many later datagrams pass a held one, 1-10000 (default 3)\n"
    "  --hold-limit MS        a held datagram goes out after this long at most (default 500)\n"
    "  --delay MS             added to every datagram, 0-60000\n"
    "  --jitter MS            up to this much more, uniform, 0-60000 (may reorder)\n"
    "  --seed N               seed of the random decisions (default 1)\n"
    "  --script FILE          exact faults, one per line (see below)\n"
    "  --script-text TEXT     exact faults, separated by ';'\n"
    "  --count N              stop after N datagrams were received\n"
    "  --seconds N            stop after N seconds (default: run until interrupted)\n"
    "  --help                 this text\n"
    "  --version              the program's version\n"
    "\n"
    "Script entries, N counting received datagrams from 1: drop N | dup N | swap N M |\n"
    "truncate N K | seqjump N K (add K to the RTP sequence from N on) | ssrc N X (the RTP SSRC\n"
    "is X from N on).\n"
    "At exit one line gives received, sent, dropped, duplicated, reordered and truncated.\n"
    "Exit status: 0 done, 1 failure, 2 bad arguments.\n";

using kwz_apps::ParseNumber;

bool ParsePercent(std::string_view text, double* share) {
  double parsed = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, parsed);
  if (text.empty() || ec != std::errc() || ptr != end || !(parsed >= 0 && parsed <= 100))
    return false;
  *share = parsed / 100;
  return true;
}

// A port given alone; an address in any form is refused, so the relay cannot be aimed off the
// machine.
bool ParsePort(std::string_view text, std::uint16_t* port, std::string* why) {
  if (text.find_first_of(".:") != std::string_view::npos) {
    *why = "'" + std::string(text) +
           "': kwz-relay works on 127.0.0.1 only; give a port number, not an address";
    return false;
  }
  if (!ParseNumber<std::uint16_t>(text, port, 1, 65535)) {
    *why = "'" + std::string(text) + "' is not a port (1-65535)";
    return false;
  }
  return true;
}

}  // namespace

const char* RelayUsage() {
  return kUsage;
}

ParseResult ParseRelayOptions(int argc, const char* const* argv, RelayOptions* options,
                              std::string* error) {
  RelayOptions o;
  bool listen = false, to = false;
  auto bad = [&](const std::string& text) {
    *error = text;
    return ParseResult::kBadArguments;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view name = argv[i];
    if (name == "--help" || name == "-h") return ParseResult::kHelp;
    if (name == "--version") return ParseResult::kVersion;
    if (!name.starts_with("--")) return bad("unexpected argument '" + std::string(name) + "'");
    if (i + 1 >= argc) return bad(std::string(name) + " needs a value");
    const std::string_view value = argv[++i];
    const std::string prefix = std::string(name) + ": ";
    std::string why;
    bool ok = true;
    if (name == "--listen") {
      ok = listen = ParsePort(value, &o.listenPort, &why);
    } else if (name == "--to") {
      ok = to = ParsePort(value, &o.targetPort, &why);
    } else if (name == "--loss") {
      ok = ParsePercent(value, &o.impair.loss);
    } else if (name == "--burst") {
      std::uint32_t burst = 1;
      ok = ParseNumber<std::uint32_t>(value, &burst, 1, 1000);
      o.impair.meanBurst = burst;
    } else if (name == "--dup") {
      ok = ParsePercent(value, &o.impair.duplicate);
    } else if (name == "--reorder") {
      ok = ParsePercent(value, &o.impair.reorder);
    } else if (name == "--depth") {
      ok = ParseNumber<std::uint32_t>(value, &o.impair.reorderDepth, 1, 10000);
    } else if (name == "--hold-limit") {
      ok = ParseNumber<std::uint32_t>(value, &o.impair.holdLimitMs, 0, 60000);
    } else if (name == "--delay") {
      ok = ParseNumber<std::uint32_t>(value, &o.impair.delayMs, 0, 60000);
    } else if (name == "--jitter") {
      ok = ParseNumber<std::uint32_t>(value, &o.impair.jitterMs, 0, 60000);
    } else if (name == "--seed") {
      ok = ParseNumber<std::uint64_t>(value, &o.impair.seed, 0, UINT64_MAX);
    } else if (name == "--count") {
      std::uint64_t count = 0;
      ok = ParseNumber<std::uint64_t>(value, &count, 1, UINT64_MAX);
      o.count = count;
    } else if (name == "--seconds") {
      std::uint32_t seconds = 0;
      ok = ParseNumber<std::uint32_t>(value, &seconds, 1, 86400);
      o.seconds = seconds;
    } else if (name == "--script" || name == "--script-text") {
      std::string text(value);
      if (name == "--script") {
        std::ifstream file{std::string(value)};
        if (!file) return bad(prefix + "cannot read '" + std::string(value) + "'");
        std::ostringstream contents;
        contents << file.rdbuf();
        text = contents.str();
      }
      if (!o.script.Parse(text, &why)) return bad(prefix + why);
    } else {
      return bad("unknown option " + std::string(name));
    }
    if (!ok)
      return bad(prefix + (why.empty() ? "'" + std::string(value) + "' is out of range" : why));
  }
  if (!listen || !to) return bad("--listen and --to are both needed");
  if (o.listenPort == o.targetPort) return bad("--listen and --to must differ");
  *options = std::move(o);
  return ParseResult::kRun;
}

}  // namespace kwz_relay
