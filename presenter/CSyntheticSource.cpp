#include "presenter/CSyntheticSource.h"

namespace presenter {

CSyntheticSource::CSyntheticSource(int width, int height)
    : m_desktop(width, height),
      m_pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4) {}

bool CSyntheticSource::Capture(std::uint32_t frame, ScreenFrame* out) {
  m_desktop.Render(frame, m_pixels.data(), m_desktop.StrideBytes());
  const SyntheticDesktop::Point cursor = m_desktop.CursorAt(frame);
  out->screen =
      BgraView{m_pixels.data(), m_desktop.Width(), m_desktop.Height(), m_desktop.StrideBytes()};
  out->cursor = CursorPosition{cursor.x, cursor.y};
  return true;
}

}  // namespace presenter
