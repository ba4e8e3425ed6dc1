// Message headers and bodies as the engine hands them to the drawing surface, made with the
// same libraries a presenter uses (zlib, the block encoder, the frame encoders).
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/CBMPManager.h"
#include "platform/wingdi.h"

namespace kwz_test {

// A header as the engine passes it: biCompression already replaced by the bytes per pixel.
inline BITMAPINFOHEADER MessageHeader(LONG width, LONG height, int bytesPerPixel) {
  BITMAPINFOHEADER h{};
  h.biWidth = width;
  h.biHeight = height;
  h.biBitCount = static_cast<WORD>(bytesPerPixel * 8);
  h.biCompression = static_cast<DWORD>(bytesPerPixel);
  h.biSizeImage = static_cast<DWORD>((h.biBitCount * static_cast<std::uint64_t>(width) + 31) / 32 *
                                     4 * static_cast<std::uint64_t>(height));
  return h;
}

inline std::vector<std::uint8_t> Zlib(const std::vector<std::uint8_t>& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> out(size);
  EXPECT_EQ(compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 6), Z_OK);
  out.resize(size);
  return out;
}

// Decodes one block message of the given mode.
inline std::int32_t SendBlock(CBMPManager& surface, std::uint32_t mode,
                              const BITMAPINFOHEADER& header, std::uint32_t index,
                              const std::vector<std::uint8_t>& body) {
  surface.SetStreamMode(mode);
  return surface.DecodeMessage(header, index, body.empty() ? nullptr : body.data(),
                               static_cast<std::uint32_t>(body.size()));
}

// Bytes of memory row `row` of the surface's bitmap, from byte `offset` on.
inline const std::uint8_t* Row(const CBMPManager& surface, std::uint32_t row,
                               std::uint32_t offset = 0) {
  return surface.Pixels() + static_cast<std::size_t>(row) * surface.Stride() + offset;
}

// Copies the bitmap, to compare before and after a message.
inline std::vector<std::uint8_t> Snapshot(const CBMPManager& surface) {
  if (surface.Pixels() == nullptr) return {};
  return std::vector<std::uint8_t>(surface.Pixels(), surface.Pixels() + surface.PixelsSize());
}

}  // namespace kwz_test
