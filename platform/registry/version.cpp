#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "platform/libloaderapi.h"
#include "platform/widestring.h"
#include "platform/winerror.h"
#include "platform/winver.h"

// Block layout (native byte order, filled by GetFileVersionInfoW from the text record):
//
//   0    4   magic "KWZV"
//   4    4   total size of the block
//   8    52  VS_FIXEDFILEINFO
//   60   4   translation: 0x04B00409 (language 0x0409 in the low word, code page 1200)
//   64   4   number of fields
//   68   ..  fields: UTF-16 name, NUL, UTF-16 value, NUL

namespace {

constexpr char kMagic[4] = {'K', 'W', 'Z', 'V'};
constexpr std::size_t kFixedAt = 8;
constexpr std::size_t kTranslationAt = kFixedAt + sizeof(VS_FIXEDFILEINFO);
constexpr std::size_t kCountAt = kTranslationAt + 4;
constexpr std::size_t kFieldsAt = kCountAt + 4;

bool ReadRecord(LPCWSTR fileName, std::string* text) {
  if (fileName == nullptr) return false;
  const std::string path = Narrow(fileName);
  DWORD size = 0;
  if (!kwz_platform::ReadFileResource(path.c_str(), MAKEINTRESOURCEW(1), RT_VERSION, nullptr,
                                      &size)) {
    return false;
  }
  text->assign(size, '\0');
  return kwz_platform::ReadFileResource(path.c_str(), MAKEINTRESOURCEW(1), RT_VERSION, text->data(),
                                        &size);
}

// "5.1.0.1" as the two DWORDs of a fixed record; zeros where it does not read.
void ParseVersion(const std::string& text, DWORD* ms, DWORD* ls) {
  unsigned part[4] = {0, 0, 0, 0};
  std::sscanf(text.c_str(), "%u.%u.%u.%u", &part[0], &part[1], &part[2], &part[3]);
  *ms = ((part[0] & 0xFFFFu) << 16) | (part[1] & 0xFFFFu);
  *ls = ((part[2] & 0xFFFFu) << 16) | (part[3] & 0xFFFFu);
}

std::vector<char> BuildBlock(const std::string& record) {
  std::vector<std::pair<std::u16string, std::u16string>> fields;
  std::istringstream lines(record);
  std::string line;
  VS_FIXEDFILEINFO fixed{};
  fixed.dwSignature = 0xFEEF04BDu;
  fixed.dwStrucVersion = 0x00010000u;
  fixed.dwFileOS = VOS_NT_WINDOWS32;
  fixed.dwFileType = VFT_DLL;
  while (std::getline(lines, line)) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    const std::string name = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    if (name == "FileVersion") ParseVersion(value, &fixed.dwFileVersionMS, &fixed.dwFileVersionLS);
    if (name == "ProductVersion") {
      ParseVersion(value, &fixed.dwProductVersionMS, &fixed.dwProductVersionLS);
    }
    fields.emplace_back(Widen(name.c_str()), Widen(value.c_str()));
  }
  std::vector<char> block(kFieldsAt);
  auto append = [&block](const std::u16string& text) {
    const std::size_t at = block.size();
    block.resize(at + (text.size() + 1) * sizeof(WCHAR));
    std::memcpy(&block[at], text.c_str(), (text.size() + 1) * sizeof(WCHAR));
  };
  for (const auto& [name, value] : fields) {
    append(name);
    append(value);
  }
  const DWORD total = static_cast<DWORD>(block.size());
  const DWORD translation = 0x04B00409u;
  const DWORD count = static_cast<DWORD>(fields.size());
  std::memcpy(&block[0], kMagic, 4);
  std::memcpy(&block[4], &total, 4);
  std::memcpy(&block[kFixedAt], &fixed, sizeof fixed);
  std::memcpy(&block[kTranslationAt], &translation, 4);
  std::memcpy(&block[kCountAt], &count, 4);
  return block;
}

bool SameText(const std::u16string& a, const char16_t* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i] != u'\0'; ++i) {
    char16_t x = a[i];
    char16_t y = b[i];
    if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - u'a' + u'A');
    if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - u'a' + u'A');
    if (x != y) return false;
  }
  return i == a.size() && b[i] == u'\0';
}

}  // namespace

DWORD GetFileVersionInfoSizeW(LPCWSTR fileName, DWORD* handle) {
  if (handle != nullptr) *handle = 0;
  std::string record;
  if (!ReadRecord(fileName, &record)) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
  }
  return static_cast<DWORD>(BuildBlock(record).size());
}

BOOL GetFileVersionInfoW(LPCWSTR fileName, DWORD, DWORD length, LPVOID data) {
  std::string record;
  if (data == nullptr || !ReadRecord(fileName, &record)) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  const std::vector<char> block = BuildBlock(record);
  if (length < block.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(data, block.data(), block.size());
  return TRUE;
}

BOOL VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, UINT* length) {
  if (block == nullptr || subBlock == nullptr || buffer == nullptr || length == nullptr) {
    return FALSE;
  }
  const char* bytes = static_cast<const char*>(block);
  DWORD total = 0;
  DWORD count = 0;
  if (std::memcmp(bytes, kMagic, 4) != 0) return FALSE;
  std::memcpy(&total, bytes + 4, 4);
  std::memcpy(&count, bytes + kCountAt, 4);
  const std::u16string query(subBlock);
  if (query == u"\\") {
    *buffer = const_cast<char*>(bytes + kFixedAt);
    *length = sizeof(VS_FIXEDFILEINFO);
    return TRUE;
  }
  if (SameText(query, u"\\VarFileInfo\\Translation")) {
    *buffer = const_cast<char*>(bytes + kTranslationAt);
    *length = 4;
    return TRUE;
  }
  const std::u16string prefix = u"\\StringFileInfo\\040904B0\\";
  if (query.size() <= prefix.size() || !SameText(query.substr(0, prefix.size()), prefix.c_str())) {
    return FALSE;
  }
  const std::u16string wanted = query.substr(prefix.size());
  const auto* text = reinterpret_cast<const char16_t*>(bytes + kFieldsAt);
  const auto* end = reinterpret_cast<const char16_t*>(bytes + total);
  for (DWORD i = 0; i < count && text < end; ++i) {
    const std::u16string name(text);
    const char16_t* value = text + name.size() + 1;
    const std::size_t valueLength = std::char_traits<char16_t>::length(value);
    if (SameText(name, wanted.c_str())) {
      *buffer = const_cast<char16_t*>(value);
      *length = static_cast<UINT>(valueLength + 1);
      return TRUE;
    }
    text = value + valueLength + 1;
  }
  return FALSE;
}
