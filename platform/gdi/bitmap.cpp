// Bitmaps from a module's resources, and what GetObjectW tells of a bitmap (platform/gdi.h).
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/kernel.h"
#include "platform/libloaderapi.h"
#include "platform/winerror.h"

#include "gdi/objects.h"

namespace kwz_platform {
namespace {

// Toolbox pictures and icons are tens of pixels a side; the bound keeps a resource that claims
// more from costing more than 64 MiB of pixels.
constexpr std::uint64_t kMaxResourceSide = 4096;

// The resource's pixels as a 32-bit bottom-up bitmap, or null when the bytes are not a bitmap
// we read. Every size is taken from the resource, so each is checked before it is used.
std::shared_ptr<BitmapObject> ReadDib(const std::uint8_t* data, std::uint64_t size) {
  BITMAPINFOHEADER h;
  if (size < sizeof h) return nullptr;
  std::memcpy(&h, data, sizeof h);
  const std::uint64_t bits = h.biBitCount;
  const bool paletted = bits == 1 || bits == 4 || bits == 8;
  if (h.biSize != sizeof h || h.biPlanes != 1 || h.biCompression != BI_RGB ||
      (!paletted && bits != 24 && bits != 32)) {
    return nullptr;
  }
  // Resource compilers write bottom-up rows only: a negative height is as bad as a zero one.
  if (h.biWidth < 1 || h.biHeight < 1 || static_cast<std::uint64_t>(h.biWidth) > kMaxResourceSide ||
      static_cast<std::uint64_t>(h.biHeight) > kMaxResourceSide) {
    return nullptr;
  }
  const std::uint64_t width = static_cast<std::uint64_t>(h.biWidth);
  const std::uint64_t height = static_cast<std::uint64_t>(h.biHeight);
  // 24- and 32-bit bitmaps may carry a colour table too (a hint for palette devices): skipped.
  const std::uint64_t colours = h.biClrUsed != 0 || !paletted ? h.biClrUsed : 1u << bits;
  if (paletted && colours > (1u << bits)) return nullptr;
  const std::uint64_t stride = (width * bits + 31) / 32 * 4;
  const std::uint64_t pixelsAt = sizeof h + colours * 4;
  if (pixelsAt > size || stride * height > size - pixelsAt) return nullptr;

  // Indices beyond the table name no colour; they read as black.
  std::uint32_t table[256] = {};
  if (paletted) std::memcpy(table, data + sizeof h, colours * 4);
  auto bitmap = std::make_shared<BitmapObject>();
  bitmap->width = static_cast<int>(width);
  bitmap->height = static_cast<int>(height);
  bitmap->bitCount = 32;
  bitmap->bits.resize(width * height * 4);
  for (std::uint64_t row = 0; row < height; ++row) {
    const std::uint8_t* in = data + pixelsAt + row * stride;
    std::uint8_t* out = bitmap->bits.data() + row * width * 4;
    for (std::uint64_t x = 0; x < width; ++x, out += 4) {
      if (!paletted) {
        std::memcpy(out, in + x * (bits / 8), 3);
        continue;
      }
      const std::uint64_t bit = x * bits;
      const unsigned index = (in[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
      std::memcpy(out, &table[index], 3);
    }
  }
  return bitmap;
}

}  // namespace
}  // namespace kwz_platform

using namespace kwz_platform;

HBITMAP LoadBitmapW(HINSTANCE instance, LPCWSTR name) {
  HRSRC found = FindResourceW(instance, name, RT_BITMAP);
  if (found == nullptr) return nullptr;  // FindResourceW has said why
  const auto* data = static_cast<const std::uint8_t*>(LockResource(LoadResource(instance, found)));
  auto bitmap = data != nullptr ? ReadDib(data, SizeofResource(instance, found)) : nullptr;
  if (!bitmap) {
    SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  return reinterpret_cast<HBITMAP>(Bitmaps().Insert(std::move(bitmap)));
}

int GetObjectW(HGDIOBJ object, int size, LPVOID buffer) {
  auto bitmap = Bitmaps().Find(object);
  if (!bitmap) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (buffer == nullptr) return sizeof(BITMAP);
  if (size < static_cast<int>(sizeof(BITMAP))) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  BITMAP described{};
  described.bmWidth = bitmap->width;
  described.bmHeight = bitmap->height;
  // Rows of bitmaps without memory of their own are counted in whole 16-bit words, as Windows
  // counts those of device bitmaps.
  described.bmWidthBytes =
      bitmap->bits.empty() ? (bitmap->width * bitmap->bitCount + 15) / 16 * 2 : bitmap->width * 4;
  described.bmPlanes = 1;
  described.bmBitsPixel = static_cast<WORD>(bitmap->bitCount);
  described.bmBits = bitmap->bits.empty() ? nullptr : bitmap->bits.data();
  std::memcpy(buffer, &described, sizeof described);
  return sizeof described;
}
