#include "platform/oleauto.h"

#include <cstdlib>
#include <cstring>

#include "platform/widestring.h"

// Layout as on Windows: a 32-bit byte count, the characters, a NUL. The BSTR points at the
// characters.
BSTR SysAllocStringByteLen(const char* bytes, UINT length) {
  if (length > 0x7FFFFFF0u) return nullptr;
  // Room for a whole terminating character after an odd byte count too.
  std::size_t size = sizeof(DWORD) + static_cast<std::size_t>(length) + 2 * sizeof(OLECHAR);
  auto* block = static_cast<unsigned char*>(std::malloc(size));
  if (block == nullptr) return nullptr;
  DWORD byteLength = length;
  std::memcpy(block, &byteLength, sizeof byteLength);
  unsigned char* chars = block + sizeof(DWORD);
  if (bytes != nullptr) {
    std::memcpy(chars, bytes, length);
  } else {
    std::memset(chars, 0, length);
  }
  std::memset(chars + length, 0, 2 * sizeof(OLECHAR));
  return reinterpret_cast<BSTR>(chars);
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > 0x7FFFFFF0u / sizeof(OLECHAR)) return nullptr;
  return SysAllocStringByteLen(reinterpret_cast<const char*>(text),
                               static_cast<UINT>(length * sizeof(OLECHAR)));
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

INT SysReAllocString(BSTR* target, const OLECHAR* text) {
  if (target == nullptr) return FALSE;
  BSTR copy = SysAllocString(text);
  if (copy == nullptr && text != nullptr) return FALSE;
  SysFreeString(*target);
  *target = copy;
  return TRUE;
}
