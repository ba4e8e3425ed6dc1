#include "platform/oleauto.h"

#include <cstdlib>
#include <cstring>

#include "platform/widestring.h"

// Layout as on Windows: a 32-bit byte count, the characters, a NUL. The BSTR points at the
// characters.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > 0x7FFFFFF0u / sizeof(OLECHAR)) return nullptr;
  std::size_t bytes = sizeof(DWORD) + (static_cast<std::size_t>(length) + 1) * sizeof(OLECHAR);
  auto* block = static_cast<unsigned char*>(std::malloc(bytes));
  if (block == nullptr) return nullptr;
  DWORD byteLength = length * sizeof(OLECHAR);
  std::memcpy(block, &byteLength, sizeof byteLength);
  auto* chars = reinterpret_cast<OLECHAR*>(block + sizeof(DWORD));
  if (text != nullptr) {
    std::memcpy(chars, text, length * sizeof(OLECHAR));
  } else {
    std::memset(chars, 0, length * sizeof(OLECHAR));
  }
  chars[length] = u'\0';
  return chars;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(WideLength(text)));
}

void SysFreeString(BSTR text) {
  if (text != nullptr) std::free(reinterpret_cast<unsigned char*>(text) - sizeof(DWORD));
}

UINT SysStringLen(BSTR text) {
  if (text == nullptr) return 0;
  DWORD byteLength;
  std::memcpy(&byteLength, reinterpret_cast<unsigned char*>(text) - sizeof(DWORD),
              sizeof byteLength);
  return byteLength / sizeof(OLECHAR);
}
