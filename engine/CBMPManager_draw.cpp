// Painting: the bitmap into the control's window, at its own size or stretched, the presenter's
// cursor over it, and the report of a new screen size to the control.
#include <cstdint>
#include <optional>

#include "engine/CBMPManager.h"
#include "engine/SurfaceGeometry.h"
#include "platform/gdi.h"
#include "platform/winuser.h"

namespace {

constexpr std::uint32_t kLastBlockMode = 2;

// The wire carries cursor positions as 16-bit values; 0xFFE0 (no cursor) reads as -32 and
// lands outside the window.
std::int16_t ToShort(std::int64_t value) {
  return static_cast<std::int16_t>(static_cast<std::int32_t>(value));
}

// Releases the window's DC on every way out of Draw.
class WindowDC {
 public:
  explicit WindowDC(HWND window) : m_window(window), m_dc(GetDC(window)) {}
  ~WindowDC() {
    if (m_dc != nullptr) ReleaseDC(m_window, m_dc);
  }
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  HDC Get() const { return m_dc; }

 private:
  HWND m_window;
  HDC m_dc;
};

}  // namespace

void CBMPManager::LoadCursorIcon() {
  m_cursorIcon = LoadCursorW(nullptr, IDC_HAND);
  if (m_cursorIcon == nullptr) m_cursorIcon = LoadCursorW(nullptr, IDC_ARROW);
  ICONINFO info{};
  if (m_cursorIcon != nullptr && GetIconInfo(m_cursorIcon, &info)) {
    m_hotSpotX = static_cast<std::int32_t>(info.xHotspot);
    m_hotSpotY = static_cast<std::int32_t>(info.yHotspot);
    // GetIconInfo hands over copies of the icon's bitmaps; only the hot spot is kept.
    if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
    if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
  }
}

// Until the first paint the surface describes the largest display mode at 32 bits, so the
// first screen of another size is reported to the control.
void CBMPManager::MakeDisplayHeader() {
  LONG width = 0;
  LONG height = 0;
  if (HDC display = CreateDCW(u"DISPLAY", nullptr, nullptr, nullptr)) {
    width = GetDeviceCaps(display, HORZRES);
    height = GetDeviceCaps(display, VERTRES);
    DeleteDC(display);
  }
  DISPLAY_DEVICEW device{};
  device.cb = sizeof(device);
  for (DWORD i = 0; EnumDisplayDevicesW(nullptr, i, &device, 0); ++i) {
    DEVMODEW mode{};
    mode.dmSize = sizeof(mode);
    if (!EnumDisplaySettingsW(device.DeviceName, ENUM_CURRENT_SETTINGS, &mode)) break;
    if (static_cast<LONG>(mode.dmPelsWidth) > width) width = static_cast<LONG>(mode.dmPelsWidth);
    if (static_cast<LONG>(mode.dmPelsHeight) > height)
      height = static_cast<LONG>(mode.dmPelsHeight);
    device = DISPLAY_DEVICEW{};
    device.cb = sizeof(device);
  }
  m_drawingHeader = CDrawingHeader::Make(width, height, 4);
}

void CBMPManager::MakeDrawingHeader(std::int32_t width, std::int32_t height, int bytesPerPixel) {
  m_drawingHeader = CDrawingHeader::Make(width, height, bytesPerPixel);
}

void CBMPManager::Draw(BITMAPINFOHEADER header, HWND window, std::uint16_t cursorX,
                       std::uint16_t cursorY) {
  WindowDC dc(window);
  if (dc.Get() == nullptr) return;
  const LONG width = header.biWidth;
  const LONG height = header.biHeight;
  if (m_pixels == nullptr || width <= 0 || height <= 0) return;

  std::int64_t paddedWidth = 0;
  std::int64_t paddedHeight = 0;
  if (m_streamMode <= kLastBlockMode) {
    const auto grid = kwz_engine::ComputeBlockGrid(header, m_blockWidth, m_blockHeight);
    if (!grid) return;
    paddedWidth = grid->paddedWidth;
    paddedHeight = grid->paddedHeight;
  } else {
    const auto geometry = kwz_engine::ComputeVideoGeometry(header);
    if (!geometry) return;
    paddedWidth = geometry->width16;
    paddedHeight = geometry->height16;
  }
  const int bytesPerPixel = header.biBitCount / 8;
  if (!m_drawingHeader) {
    MakeDrawingHeader(static_cast<std::int32_t>(paddedWidth),
                      static_cast<std::int32_t>(paddedHeight), bytesPerPixel);
  } else if (m_drawingHeader.Header().biBitCount != header.biBitCount ||
             m_drawingHeader.Header().biHeight != paddedHeight ||
             m_drawingHeader.Header().biWidth != paddedWidth) {
    MakeDrawingHeader(static_cast<std::int32_t>(paddedWidth),
                      static_cast<std::int32_t>(paddedHeight), bytesPerPixel);
    if (m_sizeSink != nullptr) {
      m_sizeSink->OnScreenSizeChanged(static_cast<std::uint32_t>(width),
                                      static_cast<std::uint32_t>(height));
    }
  }
  if (!m_drawingHeader) return;
  const BITMAPINFOHEADER& drawing = m_drawingHeader.Header();
  // The header of a message that failed to decode may describe more than the bitmap holds;
  // GDI would read past its end.
  if (drawing.biSizeImage > m_pixelsSize) return;

  m_drawingDC = dc.Get();
  // The picture is the top of the padded bitmap: its padding rows lie at the bottom.
  const LONG sourceY = drawing.biHeight - height;
  LONG targetWidth = width;
  LONG targetHeight = height;
  std::int16_t x = 0;
  std::int16_t y = 0;
  if (m_stretch.load(std::memory_order_relaxed)) {
    RECT client{};
    if (GetClientRect(window, &client)) {
      targetWidth = client.right - client.left;
      targetHeight = client.bottom - client.top;
    }
    SetStretchBltMode(m_drawingDC, HALFTONE);
    StretchDIBits(m_drawingDC, 0, 0, targetWidth, targetHeight, 0, sourceY, width, height, m_pixels,
                  m_drawingHeader.Info(), DIB_RGB_COLORS, SRCCOPY);
    // 32-bit arithmetic as the cursor travels in 16 bits: wrap, never overflow.
    const auto scaledX =
        static_cast<std::int32_t>(std::int64_t{static_cast<std::int16_t>(cursorX)} * targetWidth);
    const auto scaledY =
        static_cast<std::int32_t>(std::int64_t{static_cast<std::int16_t>(cursorY)} * targetHeight);
    x = ToShort(std::int64_t{scaledX / width} - m_hotSpotX);
    y = ToShort(std::int64_t{scaledY / height} - m_hotSpotY);
  } else {
    SetDIBitsToDevice(m_drawingDC, 0, 0, static_cast<DWORD>(width), static_cast<DWORD>(height), 0,
                      sourceY, 0, static_cast<UINT>(drawing.biHeight), m_pixels,
                      m_drawingHeader.Info(), DIB_RGB_COLORS);
    x = ToShort(std::int64_t{cursorX} - m_hotSpotX);
    y = ToShort(std::int64_t{cursorY} - m_hotSpotY);
  }
  // The edge itself still counts as inside, so a cursor at the right edge is drawn.
  if (m_cursorIcon != nullptr && x >= 0 && x <= targetWidth && y >= 0 && y <= targetHeight) {
    DrawIcon(m_drawingDC, x, y, m_cursorIcon);
  }
  m_drawingDC = nullptr;
}
