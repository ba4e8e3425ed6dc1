#include "registry/hive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/winerror.h"

namespace kwz_platform {
namespace {

constexpr const char* kHeader = "KWZ-REGISTRY 1";
constexpr const char* kTrailer = "END";

char Fold(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> levels;
  std::string level;
  for (char c : path) {
    if (c == '\\') {
      if (!level.empty()) levels.push_back(level);
      level.clear();
    } else {
      level += c;
    }
  }
  if (!level.empty()) levels.push_back(level);
  return levels;
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out + '"';
}

// Reads a quoted text at line[*at]; false when it is not one.
bool Unquote(const std::string& line, std::size_t* at, std::string* text) {
  if (*at >= line.size() || line[*at] != '"') return false;
  text->clear();
  for (std::size_t i = *at + 1; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      *at = i + 1;
      return true;
    }
    if (c == '\\') {
      if (++i >= line.size()) return false;
      const char e = line[i];
      if (e == 'n') {
        *text += '\n';
      } else if (e == '\\' || e == '"') {
        *text += e;
      } else {
        return false;
      }
    } else {
      *text += c;
    }
  }
  return false;
}

void SerializeKey(const RegistryKey& key, const std::string& path, std::ostringstream& out) {
  if (!path.empty()) {
    out << '[' << path << "]\n";
    for (const auto& [name, value] : key.values) {
      out << (name.empty() ? std::string("@") : Quote(name)) << '=' << Quote(value) << '\n';
    }
  }
  for (const auto& [name, sub] : key.subkeys) {
    SerializeKey(sub, path.empty() ? name : path + '\\' + name, out);
  }
}

bool MakeFolders(const std::string& file) {
  for (std::size_t slash = file.find('/', 1); slash != std::string::npos;
       slash = file.find('/', slash + 1)) {
    const std::string folder = file.substr(0, slash);
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

}  // namespace

bool CaseLess::operator()(const std::string& a, const std::string& b) const {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char x = Fold(a[i]);
    const char y = Fold(b[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
  return a.size() < b.size();
}

std::string NormalizeRegistryPath(const std::string& path) {
  std::string out;
  for (const std::string& level : SplitPath(path)) {
    if (!out.empty()) out += '\\';
    out += level;
  }
  return out;
}

RegistryKey* RegistryHive::Find(const std::string& path) {
  RegistryKey* key = &root_;
  for (const std::string& level : SplitPath(path)) {
    auto it = key->subkeys.find(level);
    if (it == key->subkeys.end()) return nullptr;
    key = &it->second;
  }
  return key;
}

RegistryKey* RegistryHive::Create(const std::string& path, bool* created) {
  RegistryKey* key = &root_;
  bool isNew = false;
  for (const std::string& level : SplitPath(path)) {
    auto [it, inserted] = key->subkeys.try_emplace(level);
    isNew = inserted;
    key = &it->second;
  }
  if (created != nullptr) *created = isNew;
  return key;
}

bool RegistryHive::Remove(const std::string& path) {
  std::vector<std::string> levels = SplitPath(path);
  if (levels.empty()) return false;
  const std::string last = levels.back();
  levels.pop_back();
  RegistryKey* parent = &root_;
  for (const std::string& level : levels) {
    auto it = parent->subkeys.find(level);
    if (it == parent->subkeys.end()) return false;
    parent = &it->second;
  }
  return parent->subkeys.erase(last) == 1;
}

LONG RegistryHive::Load(const std::string& file, std::string* reason) {
  root_ = RegistryKey();
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    if (errno == ENOENT || errno == ENOTDIR) return ERROR_SUCCESS;
    *reason = file + ": cannot be read";
    return ERROR_BADDB;
  }
  std::ostringstream text;
  text << in.rdbuf();
  const LONG result = Parse(text.str(), reason);
  if (result != ERROR_SUCCESS) *reason = file + ": " + *reason;
  return result;
}

LONG RegistryHive::Parse(const std::string& text, std::string* reason) {
  root_ = RegistryKey();
  std::istringstream in(text);
  std::string line;
  int number = 0;
  bool ended = false;
  RegistryKey* current = nullptr;
  auto fail = [&](const char* what) {
    *reason = "line " + std::to_string(number) + ": " + what;
    root_ = RegistryKey();
    return static_cast<LONG>(ERROR_BADDB);
  };
  while (std::getline(in, line)) {
    ++number;
    if (number == 1) {
      if (line != kHeader) return fail("not a registry store (bad header)");
      continue;
    }
    if (ended) return fail("text after the end marker");
    if (line == kTrailer) {
      ended = true;
    } else if (!line.empty() && line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) return fail("malformed key line");
      const std::string path = line.substr(1, line.size() - 2);
      if (path.find('"') != std::string::npos) return fail("malformed key line");
      current = Create(path, nullptr);
    } else if (!line.empty()) {
      if (current == nullptr) return fail("value outside a key");
      std::string name;
      std::size_t at = 0;
      if (line[0] == '@') {
        at = 1;
      } else if (!Unquote(line, &at, &name) || name.empty()) {
        return fail("malformed value name");
      }
      std::string value;
      if (at >= line.size() || line[at] != '=') return fail("'=' expected");
      ++at;
      if (!Unquote(line, &at, &value) || at != line.size()) return fail("malformed value");
      current->values[name] = value;
    }
  }
  if (number == 0) return fail("empty file");
  if (!ended) return fail("the store ends early (no end marker)");
  return ERROR_SUCCESS;
}

std::string RegistryHive::Serialize() const {
  std::ostringstream out;
  out << kHeader << '\n';
  SerializeKey(root_, "", out);
  out << kTrailer << '\n';
  return out.str();
}

LONG RegistryHive::Save(const std::string& file) const {
  if (!MakeFolders(file)) return errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND;
  const std::string temp = file + ".tmp";
  const std::string text = Serialize();
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED;
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  // The rename must not overtake the data, or a crash could leave an empty store.
  const bool ok = written == text.size() && ::fsync(fd) == 0;
  ::close(fd);
  if (!ok || ::rename(temp.c_str(), file.c_str()) != 0) {
    ::unlink(temp.c_str());
    return ERROR_GEN_FAILURE;
  }
  return ERROR_SUCCESS;
}

}  // namespace kwz_platform
