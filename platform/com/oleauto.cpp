#include "platform/oleauto.h"

#include <cstdlib>
#include <cstring>

#include "platform/widestring.h"

// Layout as on Windows: a 32-bit byte count, the characters, a NUL. The BSTR points at the
// characters.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > 0x7FFFFFF0u / sizeof(OLECHAR)) return nullptr;
  const std::size_t bytes = length * sizeof(OLECHAR);
  auto* block = static_cast<unsigned char*>(std::malloc(sizeof(DWORD) + bytes + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  const DWORD byteLength = static_cast<DWORD>(bytes);
  std::memcpy(block, &byteLength, sizeof byteLength);
  unsigned char* chars = block + sizeof(DWORD);
  if (text != nullptr) {
    std::memcpy(chars, text, bytes);
  } else {
    std::memset(chars, 0, bytes);
  }
  std::memset(chars + bytes, 0, sizeof(OLECHAR));
  return reinterpret_cast<BSTR>(chars);
}

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(WideLength(text)));
}

void SysFreeString(BSTR text) {
  if (text != nullptr) std::free(reinterpret_cast<unsigned char*>(text) - sizeof(DWORD));
}

UINT SysStringByteLen(BSTR text) {
  if (text == nullptr) return 0;
  DWORD byteLength;
  std::memcpy(&byteLength, reinterpret_cast<unsigned char*>(text) - sizeof(DWORD),
              sizeof byteLength);
  return byteLength;
}

UINT SysStringLen(BSTR text) {
  return SysStringByteLen(text) / sizeof(OLECHAR);
}
