#include "presenter/CScreenCaptureSource.h"

#include "platform/kernel.h"
#include "platform/winuser.h"

namespace presenter {

CScreenCaptureSource::CScreenCaptureSource() {
  m_screen = GetDC(nullptr);
  m_memory = m_screen != nullptr ? CreateCompatibleDC(m_screen) : nullptr;
  const int width = m_screen != nullptr ? GetDeviceCaps(m_screen, HORZRES) : 0;
  const int height = m_screen != nullptr ? GetDeviceCaps(m_screen, VERTRES) : 0;
  if (m_memory == nullptr || !Prepare(width, height)) {
    if (m_memory != nullptr) DeleteDC(m_memory);
    if (m_screen != nullptr) ReleaseDC(nullptr, m_screen);
    throw exc_screen_source(u"CScreenCaptureSource.cpp", __LINE__,
                            u"The screen cannot be captured.", GetLastError());
  }
}

CScreenCaptureSource::~CScreenCaptureSource() {
  FreeSection();
  DeleteDC(m_memory);
  ReleaseDC(nullptr, m_screen);
}

void CScreenCaptureSource::FreeSection() {
  if (m_section == nullptr) return;
  SelectObject(m_memory, m_previous);
  DeleteObject(m_section);
  m_section = nullptr;
  m_bits = nullptr;
}

bool CScreenCaptureSource::Prepare(int width, int height) {
  if (width == m_width && height == m_height && m_section != nullptr) return true;
  FreeSection();
  m_width = m_height = 0;
  if (width < 1 || height < 1 || width > kMaxScreenSide || height > kMaxScreenSide) return false;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down: the streamer takes the top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  m_section = CreateDIBSection(m_memory, &info, DIB_RGB_COLORS, &m_bits, nullptr, 0);
  if (m_section == nullptr) return false;
  m_previous = SelectObject(m_memory, m_section);
  if (m_previous == nullptr) {
    DeleteObject(m_section);
    m_section = nullptr;
    return false;
  }
  m_width = width;
  m_height = height;
  return true;
}

bool CScreenCaptureSource::Capture(std::uint32_t, ScreenFrame* out) {
  // The display may have changed its mode since the last frame.
  if (!Prepare(GetDeviceCaps(m_screen, HORZRES), GetDeviceCaps(m_screen, VERTRES))) return false;
  if (!BitBlt(m_memory, 0, 0, m_width, m_height, m_screen, 0, 0, SRCCOPY)) return false;
  out->screen = BgraView{static_cast<const std::uint8_t*>(m_bits), m_width, m_height, m_width * 4};
  POINT cursor{};
  if (GetCursorPos(&cursor)) {
    out->cursor = CursorPosition{cursor.x, cursor.y};
  } else {
    out->cursor.reset();
  }
  return true;
}

}  // namespace presenter
