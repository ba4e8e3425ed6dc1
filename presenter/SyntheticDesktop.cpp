#include "presenter/SyntheticDesktop.h"

#include <algorithm>

namespace {

constexpr int kGlyphCellW = 7;
constexpr int kLineHeight = 13;
constexpr int kTitleHeight = 22;
constexpr int kTaskbarHeight = 30;

uint32_t Mix(uint32_t a, uint32_t b) {
  uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u + (a << 6) + (a >> 2));
  h ^= h >> 16;
  h *= 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  h ^= h >> 16;
  return h;
}

// 0, 1, ..., span, span - 1, ..., 1, 0, ... : motion that turns back at the edges.
int Triangle(uint32_t t, int span) {
  if (span <= 0) return 0;
  uint32_t period = 2u * static_cast<uint32_t>(span);
  uint32_t p = t % period;
  return static_cast<int>(p <= static_cast<uint32_t>(span) ? p : period - p);
}

uint32_t Bgra(int r, int g, int b) {
  auto c = [](int v) { return static_cast<uint32_t>(std::clamp(v, 0, 255)); };
  return c(b) | c(g) << 8 | c(r) << 16 | 0xFF000000u;
}

// One of 64 pseudo-glyphs of 1-pixel strokes in a 5 × 7 cell, like a small bitmap font: some
// rise to full height, the rest stay within the x-height of the lower five rows.
bool GlyphDot(uint32_t code, int col, int row) {
  if (col >= 5 || row >= 7) return false;
  const bool tall = (code & 1u) != 0;
  const int top = tall ? 0 : 2;
  if (row < top) return false;
  // Strokes: left, middle and right stems; top, centre and bottom bars. At least two.
  uint32_t strokes = (code >> 1) & 0x3Fu;
  if ((strokes & (strokes - 1)) == 0) strokes |= 0x09u;
  const int centre = (top + 6) / 2;
  return ((strokes & 0x01u) && col == 0) || ((strokes & 0x02u) && col == 2) ||
         ((strokes & 0x04u) && col == 4) || ((strokes & 0x08u) && row == top) ||
         ((strokes & 0x10u) && row == centre) || ((strokes & 0x20u) && row == 6);
}

}  // namespace

// Clipped drawing onto the caller's BGRA buffer.
class SyntheticDesktop::Canvas {
 public:
  Canvas(uint8_t* bgra, int stride, int width, int height, bool glyphs)
      : m_bgra(bgra), m_stride(stride), m_width(width), m_height(height), m_glyphs(glyphs) {}

  void Put(int x, int y, uint32_t color) {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height) return;
    uint8_t* p = m_bgra + static_cast<size_t>(y) * m_stride + static_cast<size_t>(x) * 4;
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(color >> (8 * i));
  }
  void Fill(const Rect& r, uint32_t color) {
    int x0 = std::max(r.x, 0), x1 = std::min(r.x + r.w, m_width);
    int y0 = std::max(r.y, 0), y1 = std::min(r.y + r.h, m_height);
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) Put(x, y, color);
  }
  // Lines of pseudo-words filling r; the text is scrolled up by `scroll` pixels.
  void Text(const Rect& r, uint32_t seed, int scroll, uint32_t ink) {
    const int columns = r.w / kGlyphCellW;
    for (int y = std::max(r.y, 0); y < std::min(r.y + r.h, m_height); ++y) {
      const int docY = y - r.y + scroll;
      const uint32_t line = static_cast<uint32_t>(docY / kLineHeight);
      const int row = docY % kLineHeight - 3;
      if (row < 0) continue;
      const uint32_t lineSeed = Mix(seed, line);
      // Some lines are blank, the rest end somewhere past a third of the width.
      if (lineSeed % 9 == 0) continue;
      const int length =
          columns / 3 +
          static_cast<int>(lineSeed % static_cast<uint32_t>(columns - columns / 3 + 1));
      for (int c = 0; c < length; ++c) {
        const uint32_t code = Mix(lineSeed, static_cast<uint32_t>(c));
        if (code % 6 == 0) continue;  // a space between words
        if (!m_glyphs) {
          // A stripe covers the glyph rows and joins the letters of a word.
          const bool wordGoesOn = c + 1 < length && Mix(lineSeed, c + 1u) % 6 != 0;
          if (row >= 1 && row <= 5)
            for (int dx = 0; dx < (wordGoesOn ? kGlyphCellW : 5); ++dx)
              Put(r.x + c * kGlyphCellW + dx, y, ink);
          continue;
        }
        for (int dx = 0; dx < 5; ++dx)
          if (GlyphDot(code >> 8 & 0x7Fu, dx, row)) Put(r.x + c * kGlyphCellW + dx, y, ink);
      }
    }
  }

 private:
  uint8_t* m_bgra;
  int m_stride;
  int m_width;
  int m_height;
  bool m_glyphs;
};

SyntheticDesktop::SyntheticDesktop(int width, int height, Text text)
    : m_width(width), m_height(height), m_text(text) {}

std::vector<uint8_t> SyntheticDesktop::Render(uint32_t frame) const {
  std::vector<uint8_t> bgra(static_cast<size_t>(StrideBytes()) * m_height);
  Render(frame, bgra.data(), StrideBytes());
  return bgra;
}

SyntheticDesktop::Point SyntheticDesktop::CursorAt(uint32_t frame) const {
  return {Triangle(frame * 7 + 40, m_width - 1), Triangle(frame * 5 + 30, m_height - 1)};
}

void SyntheticDesktop::DrawWindow(Canvas& canvas, const Rect& r, uint32_t seed, bool active,
                                  int scroll) const {
  canvas.Fill(r, Bgra(60, 60, 60));
  const Rect title{r.x + 1, r.y + 1, r.w - 2, kTitleHeight};
  canvas.Fill(title, active ? Bgra(0, 84, 166) : Bgra(128, 136, 150));
  canvas.Text({title.x + 8, title.y + 2, std::min(title.w / 2, 240), kLineHeight + 3},
              Mix(seed, 0xB1u), 0, Bgra(255, 255, 255));
  for (int i = 1; i <= 3; ++i)
    canvas.Fill({title.x + title.w - i * 26, title.y + 4, 20, kTitleHeight - 8},
                i == 1 ? Bgra(196, 43, 28) : Bgra(210, 210, 210));
  const Rect client{r.x + 1, r.y + kTitleHeight + 1, r.w - 2, r.h - kTitleHeight - 2};
  canvas.Fill(client, Bgra(252, 252, 250));
  canvas.Text({client.x + 6, client.y + 4, client.w - 12, client.h - 8}, seed, scroll,
              Bgra(20, 20, 30));
}

void SyntheticDesktop::Render(uint32_t frame, uint8_t* bgra, int strideBytes) const {
  Canvas canvas(bgra, strideBytes, m_width, m_height, m_text == Text::kGlyphs);
  const uint32_t scene = frame / kFramesPerScene;
  const uint32_t sceneSeed = Mix(scene, 0x5EEDu);
  const int W = m_width, H = m_height;

  // Desktop: a vertical gradient in the scene's colour.
  const int baseR = static_cast<int>(sceneSeed & 0x7F),
            baseG = static_cast<int>(sceneSeed >> 8 & 0x7F),
            baseB = static_cast<int>(sceneSeed >> 16 & 0x7F) + 64;
  for (int y = 0; y < H; ++y) {
    const int shade = y * 80 / H;
    canvas.Fill({0, y, W, 1}, Bgra(baseR + shade, baseG + shade, baseB + shade / 2));
  }
  // Icons with their labels down the left edge.
  for (int i = 0; i < 6 && 20 + i * 80 + 64 < H - kTaskbarHeight; ++i) {
    const uint32_t iconSeed = Mix(sceneSeed, 100u + static_cast<uint32_t>(i));
    canvas.Fill({20, 20 + i * 80, 40, 40},
                Bgra(static_cast<int>(iconSeed & 0xFF), static_cast<int>(iconSeed >> 8 & 0xFF),
                     static_cast<int>(iconSeed >> 16 & 0xFF)));
    canvas.Text({12, 64 + i * 80, 56, kLineHeight}, iconSeed, 0, Bgra(255, 255, 255));
  }

  // Windows, bottom first. Sizes vary a little from scene to scene.
  const int vary = static_cast<int>(sceneSeed >> 24 & 0x0F);
  const Rect list{W * (58 + vary) / 100, H / 10, W * 36 / 100, H / 2};
  DrawWindow(canvas, list, Mix(sceneSeed, 2), false, 0);
  const Rect editor{W * (6 + vary / 2) / 100, H * 7 / 100, W * 55 / 100, H * 62 / 100};
  DrawWindow(canvas, editor, Mix(sceneSeed, 1), false, static_cast<int>(frame % 100000) * 3);
  const int dragW = W * 34 / 100, dragH = H * 40 / 100;
  const Rect dragged{Triangle(frame * 6, W - dragW), H * 40 / 100 + Triangle(frame * 2, H / 10),
                     dragW, dragH};
  DrawWindow(canvas, dragged, Mix(sceneSeed, 3), true, 0);

  // Taskbar with a clock that ticks every second at 15 frames per second.
  const Rect taskbar{0, H - kTaskbarHeight, W, kTaskbarHeight};
  canvas.Fill(taskbar, Bgra(32, 36, 44));
  for (int i = 0; i < 4; ++i)
    canvas.Fill({60 + i * 150, taskbar.y + 4, 140, kTaskbarHeight - 8},
                i == 2 ? Bgra(70, 80, 100) : Bgra(50, 56, 68));
  canvas.Text({W - 70, taskbar.y + 8, 60, kLineHeight}, Mix(0xC10Cu, frame / 15), 0,
              Bgra(230, 230, 230));
}
