// PNG output of window contents, for tests and tools.
#include <png.h>

#include <cstdio>
#include <vector>

#include "platform/gdi_testing.h"

namespace kwz_platform {

bool WritePixelsPng(const char* path, const std::uint32_t* pixels, int width, int height) {
  if (path == nullptr || pixels == nullptr || width <= 0 || height <= 0) return false;
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = false;
  std::vector<png_bytep> rows(static_cast<size_t>(height));
  // libpng reports errors by longjmp; nothing with a destructor is created after this point.
  if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // Our pixels are B, G, R, X in memory.
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (int y = 0; y < height; ++y) {
      rows[static_cast<size_t>(y)] = reinterpret_cast<png_bytep>(
          const_cast<std::uint32_t*>(pixels + static_cast<size_t>(y) * width));
    }
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    ok = true;
  }
  png_destroy_write_struct(&png, info ? &info : nullptr);
  return std::fclose(file) == 0 && ok;
}

}  // namespace kwz_platform
