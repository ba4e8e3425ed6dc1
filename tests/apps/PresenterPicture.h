// What a viewer showed against the picture kwz-present sent, for the end-to-end tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kwz_test {

struct Comparison {
  long mismatched = 0;  // pixels that differ in any channel
  double psnr = 0;      // 99 when identical
};

// shown is RGB, top row first, width x height, as the presenter's synthetic desktop of that size
// drew frame; the box the cursor is drawn in is left out.
Comparison ComparePresenterPicture(const std::vector<std::uint8_t>& shown, int width, int height,
                                   std::uint32_t frame);

// RGB of a PNG file, top row first; empty when it cannot be read.
std::vector<std::uint8_t> ReadPngRgb(const std::string& path, int* width, int* height);

}  // namespace kwz_test
