#include "presenter/CI420Picture.h"

#include <libyuv/convert_from_argb.h>

CI420Picture::CI420Picture(int width, int height)
    : m_width(width),
      m_height(height),
      m_data(static_cast<size_t>(width) * height +
             2 * static_cast<size_t>(width / 2) * (height / 2)) {}

bool CI420Picture::ConvertFromBgra(const uint8_t* bgra, int strideBytes) {
  if (bgra == nullptr || strideBytes < m_width * 4) return false;
  // libyuv's "ARGB" is the little-endian word A:R:G:B, i.e. the bytes B, G, R, A in memory.
  return libyuv::ARGBToI420(bgra, strideBytes, Y(), StrideY(), U(), StrideUV(), V(), StrideUV(),
                            m_width, m_height) == 0;
}
