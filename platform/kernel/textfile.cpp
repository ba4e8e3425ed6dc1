#include "platform/textfile.h"

#include <errno.h>
#include <stdio.h>

#include <cstdarg>
#include <cstring>
#include <string>

#include "platform/widestring.h"

namespace {

// The cookie of a text-mode stream: the real stream under it.
ssize_t TextWrite(void* cookie, const char* data, size_t size) {
  auto* under = static_cast<std::FILE*>(cookie);
  size_t start = 0;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] != '\n') continue;
    if (std::fwrite(data + start, 1, i - start, under) != i - start) return -1;
    if (std::fwrite("\r\n", 1, 2, under) != 2) return -1;
    start = i + 1;
  }
  if (std::fwrite(data + start, 1, size - start, under) != size - start) return -1;
  return static_cast<ssize_t>(size);
}

int TextClose(void* cookie) {
  return std::fclose(static_cast<std::FILE*>(cookie));
}

}  // namespace

errno_t fopen_s(std::FILE** file, const char* name, const char* mode) {
  if (file == nullptr) return EINVAL;
  *file = nullptr;
  if (name == nullptr || mode == nullptr) return EINVAL;
  const bool binary = std::strchr(mode, 'b') != nullptr;
  if (!binary && (std::strchr(mode, 'r') != nullptr || std::strchr(mode, '+') != nullptr)) {
    return EINVAL;
  }
  std::string realMode = mode;
  if (!binary) realMode += 'b';
  std::FILE* under = std::fopen(name, realMode.c_str());
  if (under == nullptr) return errno != 0 ? errno : EINVAL;
  if (binary) {
    *file = under;
    return 0;
  }
  cookie_io_functions_t io{};
  io.write = TextWrite;
  io.close = TextClose;
  std::FILE* text = fopencookie(under, "w", io);
  if (text == nullptr) {
    std::fclose(under);
    return ENOMEM;
  }
  *file = text;
  return 0;
}

int fwprintf_s(std::FILE* file, const WCHAR* format, ...) {
  if (file == nullptr || format == nullptr) return -1;
  va_list args;
  va_start(args, format);
  std::u16string text = VFormatWide(format, args);
  va_end(args);
  std::string bytes = Narrow(text.c_str());
  if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) return -1;
  return static_cast<int>(text.size());
}
