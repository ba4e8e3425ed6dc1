// A deterministic, screen-like picture source for tests and for a presenter without a real
// screen: frame n is a pure function of n and the size. It shows a gradient desktop with icons,
// a taskbar with a clock, an editor window whose text scrolls, a window being dragged across the
// screen and a static list window. Their text is either text-like stripes (each word a bar, the
// look of a document seen from afar) or, for the hardest case a video codec meets on a screen,
// dense lines of 1-pixel pseudo-glyphs. Every kFramesPerScene frames the scene changes (colours,
// layout and text), which behaves like switching to another application. Stateless after
// construction, so any thread may render.
#pragma once

#include <cstdint>
#include <vector>

class SyntheticDesktop {
 public:
  static constexpr uint32_t kFramesPerScene = 150;

  struct Point {
    int x;
    int y;
  };

  enum class Text { kStripes, kGlyphs };

  // width and height at least 64.
  SyntheticDesktop(int width, int height, Text text = Text::kStripes);

  int Width() const { return m_width; }
  int Height() const { return m_height; }
  int StrideBytes() const { return m_width * 4; }

  // Writes frame n as 32-bit BGRA (alpha 255), top row first; strideBytes ≥ width × 4.
  void Render(uint32_t frame, uint8_t* bgra, int strideBytes) const;
  std::vector<uint8_t> Render(uint32_t frame) const;

  // Where the presenter's cursor is in frame n: always on the screen, moving every frame.
  Point CursorAt(uint32_t frame) const;

 private:
  struct Rect {
    int x, y, w, h;
  };
  class Canvas;

  void DrawWindow(Canvas& canvas, const Rect& r, uint32_t seed, bool active, int scroll) const;

  int m_width;
  int m_height;
  Text m_text;
};
