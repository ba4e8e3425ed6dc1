#include "platform/registrar.h"

#include <atomic>
#include <cctype>
#include <memory>

#include "platform/oleauto.h"
#include "platform/widestring.h"
#include "platform/winerror.h"
#include "platform/winreg.h"

namespace {

std::atomic<bool> g_perUser{false};

struct ScriptValue {
  std::string name;
  std::string text;
};

struct ScriptKey {
  enum Flag { kNone, kNoRemove, kForceRemove, kDelete } flag = kNone;
  std::string name;
  bool hasDefault = false;
  std::string defaultText;
  std::vector<ScriptValue> values;
  std::vector<ScriptKey> keys;
};

struct ScriptRoot {
  HKEY root;
  std::vector<ScriptKey> keys;
};

// Tokens are separated by white space: the words "{", "}" and "=", other words, and quoted
// texts (a quoted text is never a keyword).
class Parser {
 public:
  explicit Parser(const std::string& text) : text_(text) {}

  bool ParseScript(std::vector<ScriptRoot>* roots) {
    while (Next()) {
      ScriptRoot root{RootKey(token_), {}};
      if (quoted_ || root.root == nullptr) return Fail("unknown root key '" + token_ + "'");
      if (!Expect("{")) return false;
      if (!ParseKeys(&root.keys, nullptr, 1)) return false;
      roots->push_back(std::move(root));
    }
    return error_.empty();
  }

  const std::string& Error() const { return error_; }

 private:
  static HKEY RootKey(const std::string& word) {
    if (word == "HKCR" || word == "HKEY_CLASSES_ROOT") return HKEY_CLASSES_ROOT;
    if (word == "HKCU" || word == "HKEY_CURRENT_USER") return HKEY_CURRENT_USER;
    if (word == "HKLM" || word == "HKEY_LOCAL_MACHINE") return HKEY_LOCAL_MACHINE;
    return nullptr;
  }

  // Reads the items of a block up to its '}'; values only where owner is a key.
  bool ParseKeys(std::vector<ScriptKey>* keys, ScriptKey* owner, int depth) {
    if (depth > 64) return Fail("keys nested too deep");
    while (true) {
      if (!Next()) return Fail("'}' expected before the end of the script");
      if (!quoted_ && token_ == "}") return true;
      if (!quoted_ && token_ == "{") return Fail("key name expected");
      if (!quoted_ && token_ == "val") {
        if (owner == nullptr) return Fail("a value outside a key");
        ScriptValue value;
        if (!NextName(&value.name) || !Expect("=") || !ParseString(&value.text)) return false;
        owner->values.push_back(std::move(value));
        continue;
      }
      ScriptKey key;
      while (!quoted_ && (token_ == "NoRemove" || token_ == "ForceRemove" || token_ == "Delete")) {
        key.flag = token_ == "NoRemove"      ? ScriptKey::kNoRemove
                   : token_ == "ForceRemove" ? ScriptKey::kForceRemove
                                             : ScriptKey::kDelete;
        if (!Next()) return Fail("key name expected");
      }
      if (!quoted_ && (token_ == "{" || token_ == "}" || token_ == "=")) {
        return Fail("key name expected");
      }
      key.name = token_;
      if (Peek() == '=') {
        Next();
        key.hasDefault = true;
        if (!ParseString(&key.defaultText)) return false;
      }
      if (Peek() == '{') {
        Next();
        if (!ParseKeys(&key.keys, &key, depth + 1)) return false;
      }
      keys->push_back(std::move(key));
    }
  }

  bool ParseString(std::string* text) {
    if (!Next()) return Fail("value type expected");
    if (quoted_ || token_ != "s") return Fail("unsupported value type '" + token_ + "'");
    if (!Next() || !quoted_) return Fail("quoted text expected");
    *text = token_;
    return true;
  }

  bool NextName(std::string* name) {
    if (!Next() || (!quoted_ && (token_ == "{" || token_ == "}" || token_ == "="))) {
      return Fail("value name expected");
    }
    *name = token_;
    return true;
  }

  bool Expect(const char* what) {
    if (!Next() || quoted_ || token_ != what) return Fail(std::string("'") + what + "' expected");
    return true;
  }

  void SkipSpace() {
    while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) {
      if (text_[at_] == '\n') ++line_;
      ++at_;
    }
  }

  // The next token's first character when it is a one-character word, else '\0'.
  char Peek() {
    SkipSpace();
    if (at_ >= text_.size()) return '\0';
    if (at_ + 1 < text_.size() && !std::isspace(static_cast<unsigned char>(text_[at_ + 1]))) {
      return '\0';
    }
    return text_[at_];
  }

  bool Next() {
    if (!error_.empty()) return false;
    SkipSpace();
    if (at_ >= text_.size()) return false;
    token_.clear();
    quoted_ = false;
    const char c = text_[at_];
    if (c == '\'') {
      quoted_ = true;
      for (++at_; at_ < text_.size(); ++at_) {
        if (text_[at_] == '\'') {
          if (at_ + 1 < text_.size() && text_[at_ + 1] == '\'') {
            token_ += '\'';
            ++at_;
            continue;
          }
          ++at_;
          return true;
        }
        if (text_[at_] == '\n') ++line_;
        token_ += text_[at_];
      }
      return Fail("unterminated quoted text");
    }
    // Words end at white space only: "{...}" is a key name, "{" alone a brace.
    while (at_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[at_]))) {
      token_ += text_[at_++];
    }
    return true;
  }

  bool Fail(const std::string& reason) {
    if (error_.empty()) error_ = "registry script, line " + std::to_string(line_) + ": " + reason;
    return false;
  }

  const std::string& text_;
  std::size_t at_ = 0;
  int line_ = 1;
  std::string token_;
  bool quoted_ = false;
  std::string error_;
};

HRESULT ScriptError(const std::string& reason) {
  ICreateErrorInfo* create = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&create))) {
    const std::u16string text = Widen(reason.c_str());
    create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
      SetErrorInfo(0, info);
      info->Release();
    }
    create->Release();
  }
  return DISP_E_EXCEPTION;
}

struct KeyCloser {
  void operator()(HKEY__* key) const { RegCloseKey(key); }
};
using KeyPtr = std::unique_ptr<HKEY__, KeyCloser>;

LONG SetText(HKEY key, const std::string& name, const std::string& text) {
  const std::u16string wideName = Widen(name.c_str());
  const std::u16string value = Widen(text.c_str());
  return RegSetValueExW(key, wideName.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
}

LONG RegisterKeys(HKEY parent, const std::vector<ScriptKey>& keys) {
  for (const ScriptKey& key : keys) {
    const std::u16string name = Widen(key.name.c_str());
    if (key.flag == ScriptKey::kDelete || key.flag == ScriptKey::kForceRemove) {
      const LONG removed = RegDeleteTreeW(parent, name.c_str());
      if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND) return removed;
      if (key.flag == ScriptKey::kDelete) continue;
    }
    HKEY raw = nullptr;
    LONG status = RegCreateKeyExW(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &raw, nullptr);
    if (status != ERROR_SUCCESS) return status;
    KeyPtr opened(raw);
    if (key.hasDefault && (status = SetText(raw, "", key.defaultText)) != ERROR_SUCCESS) {
      return status;
    }
    for (const ScriptValue& value : key.values) {
      if ((status = SetText(raw, value.name, value.text)) != ERROR_SUCCESS) return status;
    }
    if ((status = RegisterKeys(raw, key.keys)) != ERROR_SUCCESS) return status;
  }
  return ERROR_SUCCESS;
}

// What is already gone is no failure: unregistration runs on partial registrations too.
LONG UnregisterKeys(HKEY parent, const std::vector<ScriptKey>& keys) {
  for (const ScriptKey& key : keys) {
    if (key.flag == ScriptKey::kDelete) continue;
    const std::u16string name = Widen(key.name.c_str());
    if (key.flag != ScriptKey::kNoRemove) {
      const LONG status = RegDeleteTreeW(parent, name.c_str());
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return status;
      continue;
    }
    HKEY raw = nullptr;
    LONG status = RegOpenKeyExW(parent, name.c_str(), 0, KEY_ALL_ACCESS, &raw);
    if (status == ERROR_FILE_NOT_FOUND) continue;
    if (status != ERROR_SUCCESS) return status;
    KeyPtr opened(raw);
    for (const ScriptValue& value : key.values) {
      const std::u16string valueName = Widen(value.name.c_str());
      status = RegDeleteValueW(raw, valueName.c_str());
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return status;
    }
    if ((status = UnregisterKeys(raw, key.keys)) != ERROR_SUCCESS) return status;
  }
  return ERROR_SUCCESS;
}

}  // namespace

HRESULT CRegObject::AddReplacement(const WCHAR* key, const WCHAR* item) {
  if (key == nullptr || item == nullptr) return E_INVALIDARG;
  replacements_.emplace_back(Narrow(key), Narrow(item));
  return S_OK;
}

HRESULT CRegObject::ClearReplacements() {
  replacements_.clear();
  return S_OK;
}

HRESULT CRegObject::Run(const WCHAR* script, bool doRegister) {
  if (script == nullptr) return E_INVALIDARG;
  const std::string source = Narrow(script);
  std::string text;
  int line = 1;
  for (std::size_t i = 0; i < source.size(); ++i) {
    if (source[i] == '\n') ++line;
    if (source[i] != '%') {
      text += source[i];
      continue;
    }
    const std::size_t end = source.find('%', i + 1);
    if (end == std::string::npos) {
      return ScriptError("registry script, line " + std::to_string(line) + ": unmatched '%'");
    }
    const std::string name = source.substr(i + 1, end - i - 1);
    if (name.empty()) {
      text += '%';
    } else {
      auto it = replacements_.begin();
      while (it != replacements_.end() && it->first != name) ++it;
      if (it == replacements_.end()) {
        return ScriptError("registry script, line " + std::to_string(line) +
                           ": no replacement for %" + name + "%");
      }
      text += it->second;
    }
    i = end;
  }

  std::vector<ScriptRoot> roots;
  Parser parser(text);
  if (!parser.ParseScript(&roots)) return ScriptError(parser.Error());

  bool perUser = false;
  AtlGetPerUserRegistration(&perUser);
  for (const ScriptRoot& root : roots) {
    HKEY base = root.root;
    KeyPtr classes;
    if (base == HKEY_CLASSES_ROOT) {
      HKEY raw = nullptr;
      const LONG status =
          RegCreateKeyExW(perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, u"Software\\Classes", 0,
                          nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr);
      if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
      classes.reset(raw);
      base = raw;
    }
    const LONG status =
        doRegister ? RegisterKeys(base, root.keys) : UnregisterKeys(base, root.keys);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  }
  return S_OK;
}

HRESULT AtlSetPerUserRegistration(bool perUser) {
  g_perUser.store(perUser, std::memory_order_relaxed);
  return S_OK;
}

HRESULT AtlGetPerUserRegistration(bool* perUser) {
  if (perUser == nullptr) return E_POINTER;
  *perUser = g_perUser.load(std::memory_order_relaxed);
  return S_OK;
}
