// The system cursors, icon information and DrawIcon (platform/gdi.h).
#include <algorithm>

#include "platform/kernel.h"
#include "platform/winerror.h"

#include "gdi/blit.h"
#include "gdi/objects.h"

namespace kwz_platform {

ObjectTable<CursorImage>& Cursors() {
  static auto* table = new ObjectTable<CursorImage>(0x200000000);  // never destroyed
  return *table;
}

ObjectTable<BitmapObject>& Bitmaps() {
  static auto* table = new ObjectTable<BitmapObject>(0x300000000);  // never destroyed
  return *table;
}

namespace {

constexpr int kCursorSide = 32;

// 'X' outline (black), '.' body (white), anything else transparent.
const char* const kArrow[] = {
    "X",         "XX",        "X.X",        "X..X",        "X...X",     "X....X",   "X.....X",
    "X......X",  "X.......X", "X........X", "X.....XXXXX", "X..X..X",   "X.X X..X", "XX  X..X",
    "X    X..X", "     X..X", "      X..X", "      X..X",  "       XX",
};
const char* const kHand[] = {
    "     XX",           "    X..X",          "    X..X",          "    X..X",
    "    X..X",          "    X..XXX",        "    X..X..XXX",     "    X..X..X..XX",
    "    X..X..X..X.X",  "XXX X..X..X..X..X", "X..XX........X..X", "X...X...........X",
    " X..............X", "  X.............X", "  X............X",  "   X...........X",
    "   X..........X",   "    X.........X",   "    X.........X",   "    XXXXXXXXXXX",
};

template <size_t N>
std::shared_ptr<CursorImage> DrawCursor(const char* const (&rows)[N], DWORD hotX, DWORD hotY) {
  auto cursor = std::make_shared<CursorImage>();
  cursor->width = kCursorSide;
  cursor->height = kCursorSide;
  cursor->hotX = hotX;
  cursor->hotY = hotY;
  cursor->argb.assign(kCursorSide * kCursorSide, 0);
  for (size_t y = 0; y < N; ++y) {
    for (size_t x = 0; rows[y][x] != '\0'; ++x) {
      std::uint32_t& pixel = cursor->argb[y * kCursorSide + x];
      if (rows[y][x] == 'X') pixel = 0xFF000000u;
      if (rows[y][x] == '.') pixel = 0xFFFFFFFFu;
    }
  }
  return cursor;
}

struct SystemCursors {
  HCURSOR arrow;
  HCURSOR hand;
};

const SystemCursors& System() {
  static const SystemCursors cursors{
      reinterpret_cast<HCURSOR>(Cursors().Insert(DrawCursor(kArrow, 0, 0))),
      reinterpret_cast<HCURSOR>(Cursors().Insert(DrawCursor(kHand, 5, 0)))};
  return cursors;
}

// Painted pixels that an underlay must not overwrite are set aside and put back.
void SaveRect(const PixelImage& image, const RECT& r, std::vector<std::uint32_t>* saved) {
  for (LONG y = r.top; y < r.bottom; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(image.bits + y * image.stride);
    saved->insert(saved->end(), row + r.left, row + r.right);
  }
}

void RestoreRect(PixelImage& image, const RECT& r, const std::vector<std::uint32_t>& saved,
                 size_t* offset) {
  for (LONG y = r.top; y < r.bottom; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(image.bits + y * image.stride);
    std::copy_n(saved.begin() + static_cast<std::ptrdiff_t>(*offset), r.right - r.left,
                row + r.left);
    *offset += static_cast<size_t>(r.right - r.left);
  }
}

}  // namespace
}  // namespace kwz_platform

using namespace kwz_platform;

HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name) {
  if (instance == nullptr) {
    if (name == IDC_ARROW) return System().arrow;
    if (name == IDC_HAND) return System().hand;
  }
  SetLastError(ERROR_FILE_NOT_FOUND);  // no cursor resources of our own modules
  return nullptr;
}

BOOL GetIconInfo(HICON icon, ICONINFO* info) {
  auto cursor = Cursors().Find(icon);
  if (!cursor || info == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  info->fIcon = FALSE;
  info->xHotspot = cursor->hotX;
  info->yHotspot = cursor->hotY;
  info->hbmMask = reinterpret_cast<HBITMAP>(Bitmaps().Insert(
      std::make_shared<BitmapObject>(BitmapObject{cursor->width, cursor->height, 1, false, {}})));
  info->hbmColor = reinterpret_cast<HBITMAP>(Bitmaps().Insert(
      std::make_shared<BitmapObject>(BitmapObject{cursor->width, cursor->height, 32, false, {}})));
  return TRUE;
}

HICON CreateIconIndirect(const ICONINFO* info) {
  constexpr int kMaxIconSide = 256;
  auto colour = info != nullptr ? Bitmaps().Find(info->hbmColor) : nullptr;
  if (!colour || colour->bitCount != 32 || colour->width <= 0 || colour->height <= 0 ||
      colour->width > kMaxIconSide || colour->height > kMaxIconSide ||
      colour->bits.size() < static_cast<size_t>(colour->width) * colour->height * 4) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto icon = std::make_shared<CursorImage>();
  icon->width = colour->width;
  icon->height = colour->height;
  icon->hotX = info->fIcon ? static_cast<DWORD>(colour->width / 2) : info->xHotspot;
  icon->hotY = info->fIcon ? static_cast<DWORD>(colour->height / 2) : info->yHotspot;
  icon->argb.resize(static_cast<size_t>(icon->width) * icon->height);
  for (int y = 0; y < icon->height; ++y) {
    // Bottom-up sections keep the picture's top row last.
    const int row = colour->topDown ? y : icon->height - 1 - y;
    const std::uint8_t* in = colour->bits.data() + static_cast<size_t>(row) * colour->width * 4;
    for (int x = 0; x < icon->width; ++x, in += 4) {
      const std::uint32_t rgb = in[0] | in[1] << 8 | in[2] << 16;
      icon->argb[static_cast<size_t>(y) * icon->width + x] = in[3] != 0 ? 0xFF000000u | rgb : 0;
    }
  }
  return reinterpret_cast<HICON>(Cursors().Insert(std::move(icon)));
}

BOOL DestroyIcon(HICON icon) {
  if (icon == nullptr || icon == System().arrow || icon == System().hand) return FALSE;
  return Cursors().Remove(icon) ? TRUE : FALSE;
}

BOOL DeleteObject(HGDIOBJ object) {
  return Bitmaps().Remove(object) ? TRUE : FALSE;
}

BOOL DrawIcon(HDC dc, int x, int y, HICON icon) {
  auto context = DeviceContexts().Find(dc);
  auto cursor = Cursors().Find(icon);
  if (!context || !cursor) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (context->target) {
    PixelImage& image = context->target->Image();
    // The icon's rectangle within the image, in 64 bits: x and y may be anywhere.
    const RECT area{static_cast<LONG>(std::clamp<std::int64_t>(x, 0, image.width)),
                    static_cast<LONG>(std::clamp<std::int64_t>(y, 0, image.height)),
                    static_cast<LONG>(
                        std::clamp<std::int64_t>(std::int64_t{x} + cursor->width, 0, image.width)),
                    static_cast<LONG>(std::clamp<std::int64_t>(std::int64_t{y} + cursor->height, 0,
                                                               image.height))};
    if (IsRectEmpty(&area)) return TRUE;
    // Transparent pixels show what is under them: the picture painted in this DC, or else
    // what the window shows.
    if (!CoveredByDirty(*context, area)) {
      std::vector<RECT> painted;
      for (const RECT& d : context->dirty) {
        const RECT r{std::max(d.left, area.left), std::max(d.top, area.top),
                     std::min(d.right, area.right), std::min(d.bottom, area.bottom)};
        if (r.left < r.right && r.top < r.bottom) painted.push_back(r);
      }
      std::vector<std::uint32_t> saved;
      for (const RECT& r : painted) SaveRect(image, r, &saved);
      context->target->Underlay(area);
      size_t offset = 0;
      for (const RECT& r : painted) RestoreRect(image, r, saved, &offset);
    }
    RECT blended{0, 0, 0, 0};
    BlendMasked(cursor->argb.data(), cursor->width, cursor->height, x, y, image, &blended);
    AddDirty(*context, blended);
  }
  return TRUE;
}
