#include "impair/ImpairScript.h"

#include <charconv>

namespace {

bool ParseNumber(std::string_view text, std::uint64_t* value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *value, base);
  return !text.empty() && ec == std::errc() && ptr == end;
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

struct Verb {
  const char* name;
  ImpairAction::Kind kind;
  int arguments;
};

constexpr Verb kVerbs[] = {
    {"drop", ImpairAction::Kind::kDrop, 1},
    {"dup", ImpairAction::Kind::kDuplicate, 1},
    {"swap", ImpairAction::Kind::kSwap, 2},
    {"truncate", ImpairAction::Kind::kTruncate, 2},
    {"seqjump", ImpairAction::Kind::kSequenceJump, 2},
    {"ssrc", ImpairAction::Kind::kSsrc, 2},
};

}  // namespace

bool ImpairScript::Parse(std::string_view text, std::string* error) {
  std::vector<ImpairAction> parsed;
  int lineNumber = 0;
  while (!text.empty()) {
    const std::size_t end = text.find_first_of(";\n");
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++lineNumber;
    if (const std::size_t hash = line.find('#'); hash != std::string_view::npos)
      line = line.substr(0, hash);
    const std::vector<std::string_view> words = Words(line);
    if (words.empty()) continue;
    auto bad = [&](const std::string& why) {
      *error =
          "script entry " + std::to_string(lineNumber) + " ('" + std::string(line) + "'): " + why;
      return false;
    };
    const Verb* verb = nullptr;
    for (const Verb& v : kVerbs) {
      if (words[0] == v.name) verb = &v;
    }
    if (verb == nullptr) return bad("unknown action '" + std::string(words[0]) + "'");
    if (static_cast<int>(words.size()) != 1 + verb->arguments)
      return bad("takes " + std::to_string(verb->arguments) + " number(s)");
    ImpairAction action{verb->kind, 0, 0};
    if (!ParseNumber(words[1], &action.n) || action.n == 0)
      return bad("datagram numbers start at 1");
    if (verb->arguments == 2 && !ParseNumber(words[2], &action.value))
      return bad("'" + std::string(words[2]) + "' is not a number");
    if (action.kind == ImpairAction::Kind::kSwap && action.value <= action.n)
      return bad("the second datagram must come after the first");
    if (action.kind == ImpairAction::Kind::kSsrc && action.value > 0xFFFFFFFFu)
      return bad("an SSRC has 32 bits");
    parsed.push_back(action);
  }
  m_actions.insert(m_actions.end(), parsed.begin(), parsed.end());
  return true;
}
