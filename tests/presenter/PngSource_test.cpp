// Still images as a source: pixels as the file holds them, the list shown in turn, and files
// that cannot be shown refused at set-up.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/gdi_testing.h"
#include "presenter/CPngSource.h"
#include "tests/support/ChildProcess.h"

namespace kwz_test {
namespace {

std::vector<std::uint32_t> Pattern(int width, int height, std::uint32_t seed) {
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
  for (std::size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = (static_cast<std::uint32_t>(i) * 2654435761u + seed) & 0xFFFFFFu;
  return pixels;
}

std::string WritePng(const TempDir& dir, const char* name, int width, int height,
                     std::uint32_t seed) {
  const std::string path = std::string(dir.path()) + "/" + name;
  const auto pixels = Pattern(width, height, seed);
  EXPECT_TRUE(kwz_platform::WritePixelsPng(path.c_str(), pixels.data(), width, height));
  return path;
}

// An odd width, whose rows fill no whole words, and a second image shown in turn.
TEST(PngSource, ImagesAreShownInTurnEachForItsFrames) {
  TempDir dir;
  const int widths[] = {37, 64}, heights[] = {21, 48};
  presenter::CPngSource source(
      {WritePng(dir, "a.png", 37, 21, 0), WritePng(dir, "b.png", 64, 48, 1)}, 3);
  presenter::ScreenFrame frame;
  for (std::uint32_t n = 0; n < 7; ++n) {
    const int shown = n / 3 % 2, width = widths[shown], height = heights[shown];
    ASSERT_TRUE(source.Capture(n, &frame));
    ASSERT_EQ(frame.screen.width, width) << n;
    ASSERT_EQ(frame.screen.height, height) << n;
    EXPECT_FALSE(frame.cursor.has_value());
    const auto expected = Pattern(width, height, shown);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const std::uint8_t* p = frame.screen.pixels + y * frame.screen.strideBytes + x * 4;
        ASSERT_EQ(std::uint32_t{p[2]} << 16 | p[1] << 8 | p[0], expected[y * width + x]) << n;
      }
    }
  }
}

TEST(PngSource, UnreadableOrOversizedFilesAreRefused) {
  TempDir dir;
  const std::string good = WritePng(dir, "good.png", 8, 8, 3);
  const std::string wide = WritePng(dir, "wide.png", 4097, 1, 4);
  const std::string text = std::string(dir.path()) + "/text.png";
  std::ofstream(text) << "not an image";
  // A PNG cut short after its header: the size reads well, the pixels do not.
  const std::string cut = std::string(dir.path()) + "/cut.png";
  std::filesystem::copy_file(good, cut);
  std::filesystem::resize_file(cut, std::filesystem::file_size(good) - 20);
  const std::vector<std::vector<std::string>> refused = {
      {}, {std::string(dir.path()) + "/missing.png"}, {good, text}, {wide}, {cut}};
  for (const auto& files : refused) {
    EXPECT_THROW(presenter::CPngSource(files, 1), exc_screen_source)
        << (files.empty() ? "(none)" : files.back());
  }
}

}  // namespace
}  // namespace kwz_test
