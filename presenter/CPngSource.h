// Still PNG images as a source: one image, or a list shown in turn, each for a number of frames.
// Images of different sizes make the stream change size, as a presenter's screen would.
#pragma once

#include <string>
#include <vector>

#include "presenter/IScreenSource.h"

namespace presenter {

class CPngSource : public IScreenSource {
 public:
  // Reads every file at once. Raises exc_screen_source naming the first file that cannot be read
  // as a PNG image or whose sides lie outside 1..kMaxScreenSide. framesPerImage at least 1.
  CPngSource(const std::vector<std::string>& files, int framesPerImage);
  bool Capture(std::uint32_t frame, ScreenFrame* out) override;

  std::size_t ImageCount() const { return m_images.size(); }

 private:
  struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgra;  // top row first, no row padding
  };
  static Image Load(const std::string& file);

  std::vector<Image> m_images;
  std::uint32_t m_framesPerImage;
};

}  // namespace presenter
