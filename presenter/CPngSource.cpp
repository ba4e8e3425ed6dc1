#include "presenter/CPngSource.h"

#include <png.h>

#include <algorithm>

#include "platform/widestring.h"

namespace presenter {
namespace {

[[noreturn]] void Fail(LONG line, const std::string& file, const char* why) {
  const std::string text = file + ": " + why;
  throw exc_screen_source(u"CPngSource.cpp", line, Widen(text.c_str()).c_str(), 0);
}

}  // namespace

CPngSource::CPngSource(const std::vector<std::string>& files, int framesPerImage)
    : m_framesPerImage(static_cast<std::uint32_t>(std::max(framesPerImage, 1))) {
  if (files.empty()) Fail(__LINE__, "(none)", "no image given");
  for (const std::string& file : files) m_images.push_back(Load(file));
}

CPngSource::Image CPngSource::Load(const std::string& file) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, file.c_str()) == 0) {
    Fail(__LINE__, file, "not a readable PNG image");
  }
  // The size comes from the file: bound it before allocating.
  if (image.width < 1 || image.height < 1 || image.width > kMaxScreenSide ||
      image.height > kMaxScreenSide) {
    png_image_free(&image);
    Fail(__LINE__, file, "image sides must be 1 to 4096 pixels");
  }
  Image out;
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  image.format = PNG_FORMAT_BGRA;
  out.bgra.resize(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, out.bgra.data(), 0, nullptr) == 0) {
    png_image_free(&image);
    Fail(__LINE__, file, "corrupt PNG image");
  }
  return out;
}

bool CPngSource::Capture(std::uint32_t frame, ScreenFrame* out) {
  const Image& image = m_images[frame / m_framesPerImage % m_images.size()];
  out->screen = BgraView{image.bgra.data(), image.width, image.height, image.width * 4};
  out->cursor.reset();
  return true;
}

}  // namespace presenter
