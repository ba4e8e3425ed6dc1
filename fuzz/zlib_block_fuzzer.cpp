// libFuzzer target for zlib blocks (stream mode 1) at every geometry of the block grid. Input:
//
//   u16 width - 1 (mod 512), u16 height - 1 (mod 512), u8 bytes per pixel (1, 4, 3, 2 by
//   n % 4), u8 block width - 1, u8 block height - 1, u8 which block: 0 the last, 1 the end of
//   the first grid row, 2 the start of the last, 3 a raw u16 index (may lie outside the grid),
//   else a u16 index inside the grid; u8 body: 0 the rest of the input as the zlib stream,
//   1 the rest compressed, 2 exactly one block of pixels (the rest repeated) compressed
//
// A block changes nothing but its own rectangle, and a whole block of pixels lands there
// unchanged; where the DIB pads its rows only the bounds are checked (by AddressSanitizer).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/CBMPManager.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/mutate/InputMutators.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static constexpr int kBytesPerPixel[] = {1, 4, 3, 2};
  kwz_fuzz::Reader in(data, size);
  const std::uint32_t width = 1 + in.U16() % 512;
  const std::uint32_t height = 1 + in.U16() % 512;
  const std::uint32_t bytesPerPixel = kBytesPerPixel[in.U8() % 4];
  const std::uint32_t blockWidth = 1 + in.U8();
  const std::uint32_t blockHeight = 1 + in.U8();
  const std::uint8_t which = in.U8();
  const std::uint8_t bodyKind = in.U8();

  BITMAPINFOHEADER header{};
  header.biWidth = static_cast<LONG>(width);
  header.biHeight = static_cast<LONG>(height);
  header.biBitCount = static_cast<WORD>(8 * bytesPerPixel);
  header.biCompression = bytesPerPixel;  // as the engine hands it over
  header.biSizeImage =
      static_cast<DWORD>((header.biBitCount * std::uint64_t{width} + 31) / 32 * 4 * height);

  CBMPManager surface(blockWidth, blockHeight);
  surface.SetStreamMode(1);  // zlib blocks
  KWZ_FUZZ_CHECK(surface.PrepareBlocks(header));

  // The grid as the block layout defines it: the picture padded up to whole blocks.
  const std::uint32_t blocksPerRow = (width + blockWidth - 1) / blockWidth;
  const std::uint32_t blockRows = (height + blockHeight - 1) / blockHeight;
  const std::uint32_t blockCount = blocksPerRow * blockRows;
  const std::uint32_t blockRowBytes = blockWidth * bytesPerPixel;
  const std::uint32_t blockBytes = blockRowBytes * blockHeight;
  // Rows that need no DIB padding hold whole blocks side by side.
  const bool aligned = blocksPerRow * blockRowBytes % 4 == 0;
  if (aligned) KWZ_FUZZ_CHECK(surface.BlockCount() == blockCount);
  KWZ_FUZZ_CHECK(surface.BlockBytes() == blockBytes);
  KWZ_FUZZ_CHECK(surface.SurfaceHeader().biWidth == static_cast<LONG>(blocksPerRow * blockWidth));
  KWZ_FUZZ_CHECK(surface.SurfaceHeader().biHeight == static_cast<LONG>(blockRows * blockHeight));

  const std::uint32_t corners[] = {blockCount - 1, blocksPerRow - 1, blockCount - blocksPerRow};
  const std::uint32_t index = which < 3    ? corners[which]
                              : which == 3 ? in.U16()
                                           : in.U16() % blockCount;

  const std::vector<std::uint8_t> rest = in.Bytes(in.Remaining());
  std::vector<std::uint8_t> pixels(bodyKind % 3 == 2 ? blockBytes : 0);
  for (std::size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = rest.empty() ? static_cast<std::uint8_t>(i) : rest[i % rest.size()];
  const std::vector<std::uint8_t> body =
      bodyKind % 3 == 0 ? rest : kwz_fuzz::Deflate(pixels.empty() ? rest : pixels, 1);
  KWZ_FUZZ_CHECK(bodyKind % 3 == 0 || !body.empty());

  const std::int32_t decoded = surface.DecodeMessage(
      header, index, body.empty() ? nullptr : body.data(), static_cast<std::uint32_t>(body.size()));
  KWZ_FUZZ_CHECK(decoded >= 0);
  if (index >= surface.BlockCount()) KWZ_FUZZ_CHECK(decoded == 0);

  if (!aligned) return 0;
  const std::uint32_t stride = surface.Stride();
  KWZ_FUZZ_CHECK(stride == blocksPerRow * blockRowBytes);
  const bool copies = bytesPerPixel == 1 || bytesPerPixel == 4;
  const std::uint32_t bx = index % blocksPerRow;
  const std::uint32_t by = index / blocksPerRow;
  const bool whole = !pixels.empty() && decoded == static_cast<std::int32_t>(blockBytes);
  const std::uint8_t* bitmap = surface.Pixels();
  // Row by row: white outside the block's columns (or the whole row outside its rows), the
  // block's pixels inside when a whole block came.
  const bool written = copies && index < blockCount && decoded > 0;
  const std::vector<std::uint8_t> white(stride, 0xFF);
  for (std::uint32_t row = 0; row < blockRows * blockHeight; ++row) {
    const std::uint8_t* line = bitmap + std::size_t{row} * stride;
    if (!written || row / blockHeight != by) {
      KWZ_FUZZ_CHECK(std::memcmp(line, white.data(), stride) == 0);
      continue;
    }
    const std::uint32_t from = bx * blockRowBytes;
    const std::uint32_t to = from + blockRowBytes;
    KWZ_FUZZ_CHECK(std::memcmp(line, white.data(), from) == 0);
    KWZ_FUZZ_CHECK(std::memcmp(line + to, white.data(), stride - to) == 0);
    if (whole) {
      KWZ_FUZZ_CHECK(std::memcmp(line + from, pixels.data() + (row % blockHeight) * blockRowBytes,
                                 blockRowBytes) == 0);
    }
  }
  return 0;
}
