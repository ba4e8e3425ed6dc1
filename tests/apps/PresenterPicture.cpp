#include "tests/apps/PresenterPicture.h"

#include <optional>
#include <vector>

#include "presenter/CPngSource.h"
#include "presenter/SyntheticDesktop.h"

namespace kwz_test {

Snapshot CompareWithPresenter(const std::string& path, std::uint32_t frame) {
  Snapshot result;
  std::optional<presenter::CPngSource> source;  // holds the pixels that shown points into
  presenter::ScreenFrame shown;
  try {
    source.emplace(std::vector<std::string>{path}, 1);
  } catch (const exc_screen_source&) {
    return result;
  }
  if (!source->Capture(0, &shown)) return result;
  const int width = result.width = shown.screen.width, height = result.height = shown.screen.height;
  const SyntheticDesktop desktop(width, height);
  const std::vector<std::uint8_t> bgra = desktop.Render(frame);
  const auto cursor = desktop.CursorAt(frame);
  result.mismatched = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool underCursor =
          x >= cursor.x - 8 && x < cursor.x + 48 && y >= cursor.y - 8 && y < cursor.y + 48;
      const std::uint8_t* want = &bgra[(static_cast<std::size_t>(y) * width + x) * 4];
      const std::uint8_t* got = shown.screen.pixels + y * shown.screen.strideBytes + x * 4;
      if (!underCursor && (got[0] != want[0] || got[1] != want[1] || got[2] != want[2])) {
        ++result.mismatched;
      }
    }
  }
  return result;
}

}  // namespace kwz_test
