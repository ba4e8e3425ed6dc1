#include "tests/apps/PresenterPicture.h"

#include <png.h>

#include <cmath>

#include "presenter/SyntheticDesktop.h"

namespace kwz_test {

Comparison ComparePresenterPicture(const std::vector<std::uint8_t>& shown, int width, int height,
                                   std::uint32_t frame) {
  const SyntheticDesktop desktop(width, height);
  const std::vector<std::uint8_t> bgra = desktop.Render(frame);
  const auto cursor = desktop.CursorAt(frame);
  Comparison result;
  double squared = 0;
  long samples = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (x >= cursor.x - 8 && x < cursor.x + 48 && y >= cursor.y - 8 && y < cursor.y + 48) {
        continue;
      }
      const std::uint8_t* want = &bgra[(static_cast<std::size_t>(y) * width + x) * 4];
      const std::uint8_t* got = &shown[(static_cast<std::size_t>(y) * width + x) * 3];
      bool same = true;
      for (int c = 0; c < 3; ++c) {
        const double d = double(got[c]) - double(want[2 - c]);
        squared += d * d;
        same = same && d == 0;
        ++samples;
      }
      result.mismatched += same ? 0 : 1;
    }
  }
  const double mse = samples == 0 ? 0 : squared / double(samples);
  result.psnr = mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
  return result;
}

std::vector<std::uint8_t> ReadPngRgb(const std::string& path, int* width, int* height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
  *width = static_cast<int>(image.width);
  *height = static_cast<int>(image.height);
  return pixels;
}

}  // namespace kwz_test
