// What a viewer's snapshot showed against the picture kwz-present sent, for the end-to-end tests.
#pragma once

#include <cstdint>
#include <string>

namespace kwz_test {

struct Snapshot {
  int width = 0, height = 0;  // 0 when the file cannot be read as a PNG image
  long mismatched = -1;       // pixels that differ in any channel
};

// The PNG file at path against frame of the presenter's synthetic desktop of the file's size,
// leaving out the box the cursor is drawn in.
Snapshot CompareWithPresenter(const std::string& path, std::uint32_t frame);

}  // namespace kwz_test
