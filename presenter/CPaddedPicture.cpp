#include "presenter/CPaddedPicture.h"

#include <algorithm>
#include <cstring>

namespace presenter {

bool CPaddedPicture::Fill(const BgraView& source, int paddedWidth, int paddedHeight,
                          RowOrder order) {
  if (source.pixels == nullptr || source.width <= 0 || source.height <= 0 ||
      source.strideBytes < source.width * 4 || paddedWidth < source.width ||
      paddedHeight < source.height) {
    return false;
  }
  m_width = paddedWidth;
  m_height = paddedHeight;
  m_pixels.resize(static_cast<std::size_t>(paddedWidth) * paddedHeight * 4);

  const std::size_t screenBytes = static_cast<std::size_t>(source.width) * 4;
  for (int row = 0; row < paddedHeight; ++row) {
    // Picture row counted from the top; padding rows repeat the bottom row of the screen.
    const int upright = order == RowOrder::kTopDown ? row : paddedHeight - 1 - row;
    const int sourceRow = std::min(upright, source.height - 1);
    const std::uint8_t* from =
        source.pixels + static_cast<std::size_t>(sourceRow) * source.strideBytes;
    std::uint8_t* to = m_pixels.data() + static_cast<std::size_t>(row) * StrideBytes();
    std::memcpy(to, from, screenBytes);
    std::uint32_t edge;
    std::memcpy(&edge, from + screenBytes - 4, 4);
    for (int x = source.width; x < paddedWidth; ++x) std::memcpy(to + x * 4, &edge, 4);
  }
  return true;
}

}  // namespace presenter
