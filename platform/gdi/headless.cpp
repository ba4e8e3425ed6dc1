// The headless backend: each window is an in-memory 32-bit surface of its client size.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "gdi/backend.h"

namespace kwz_platform {
namespace {

struct HeadlessDisplays {
  std::mutex lock;
  std::vector<SIZE> sizes{SIZE{1920, 1080}};  // guarded by lock
  // What the primary display shows (0xRRGGBB, top row first) and where the pointer is; black
  // and at the origin until a test says otherwise. Guarded by lock.
  std::vector<std::uint32_t> screen;
  int screenWidth = 0;
  int screenHeight = 0;
  POINT cursor{0, 0};
};

HeadlessDisplays& Displays() {
  static auto* displays = new HeadlessDisplays;  // never destroyed
  return *displays;
}

class HeadlessWindow;

class HeadlessTarget : public PaintTarget {
 public:
  HeadlessTarget(HeadlessWindow* owner, int width, int height) : owner_(owner) {
    Reshape(width, height);
  }
  void Reshape(int width, int height) {
    pixels_.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    image_ = PixelImage{reinterpret_cast<std::uint8_t*>(pixels_.data()), width, height,
                        static_cast<std::ptrdiff_t>(width) * 4};
  }
  PixelImage& Image() override { return image_; }
  void Present(const std::vector<RECT>& dirty) override;
  void Underlay(const RECT& r) override;
  std::vector<std::uint32_t>& Pixels() { return pixels_; }

 private:
  HeadlessWindow* owner_;  // outlives the target: the DC holds the window's native side
  std::vector<std::uint32_t> pixels_;
  PixelImage image_;
};

class HeadlessWindow : public NativeWindow {
 public:
  HeadlessWindow(int width, int height, std::uint32_t background)
      : width_(width),
        height_(height),
        background_(background),
        surface_(static_cast<size_t>(width) * static_cast<size_t>(height), background) {}

  void Destroy() override {
    std::lock_guard<std::mutex> guard(lock_);
    destroyed_ = true;
  }
  void Move(int, int) override {}
  void Show(bool) override {}

  // Keeps the overlapping part where it was, as NorthWest bit gravity does on X11.
  void Resize(int width, int height) override {
    std::vector<std::uint32_t> resized(static_cast<size_t>(width) * static_cast<size_t>(height),
                                       background_);
    std::lock_guard<std::mutex> guard(lock_);
    const int rows = std::min(height, height_);
    const int cols = std::min(width, width_);
    for (int y = 0; y < rows; ++y) {
      std::memcpy(&resized[static_cast<size_t>(y) * width],
                  &surface_[static_cast<size_t>(y) * width_], static_cast<size_t>(cols) * 4);
    }
    surface_.swap(resized);
    width_ = width;
    height_ = height;
  }

  std::unique_ptr<PaintTarget> BeginPaint(int width, int height) override {
    std::unique_ptr<HeadlessTarget> target;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (spare_) target = std::move(spare_);
    }
    if (target) {
      target->Reshape(width, height);
    } else {
      target = std::make_unique<HeadlessTarget>(this, width, height);
    }
    return target;
  }

  void Recycle(std::unique_ptr<PaintTarget> target) override {
    std::lock_guard<std::mutex> guard(lock_);
    spare_.reset(static_cast<HeadlessTarget*>(target.release()));
  }

  void Present(HeadlessTarget& target, const std::vector<RECT>& dirty) {
    SetLastPresentPath(GdiPresentPath::kMemory);
    PixelImage& image = target.Image();
    std::lock_guard<std::mutex> guard(lock_);
    if (destroyed_) return;
    if (dirty.size() == 1 && image.width == width_ && image.height == height_ &&
        dirty[0].left == 0 && dirty[0].top == 0 && dirty[0].right == width_ &&
        dirty[0].bottom == height_) {
      // A whole frame: trade buffers instead of copying.
      surface_.swap(target.Pixels());
      target.Reshape(image.width, image.height);
      return;
    }
    for (const RECT& r : dirty) CopyRect(r, image, true);
  }

  void Underlay(HeadlessTarget& target, const RECT& r) {
    std::lock_guard<std::mutex> guard(lock_);
    CopyRect(r, target.Image(), false);
  }

  // Copies r (clipped to the surface) between the image and the surface.
  void CopyRect(const RECT& r, PixelImage& image, bool toSurface) {
    const int right = std::min<int>(r.right, width_);
    const int bottom = std::min<int>(r.bottom, height_);
    if (r.left >= right) return;
    const size_t bytes = static_cast<size_t>(right - r.left) * 4;
    for (int y = r.top; y < bottom; ++y) {
      std::uint32_t* surface = &surface_[static_cast<size_t>(y) * width_ + r.left];
      std::uint8_t* back = image.bits + y * image.stride + r.left * 4;
      if (toSurface) {
        std::memcpy(surface, back, bytes);
      } else {
        std::memcpy(back, surface, bytes);
      }
    }
  }

  bool ReadPixels(std::vector<std::uint32_t>* pixels, int* width, int* height) override {
    std::lock_guard<std::mutex> guard(lock_);
    pixels->resize(surface_.size());
    std::transform(surface_.begin(), surface_.end(), pixels->begin(),
                   [](std::uint32_t p) { return p | 0xFF000000u; });
    *width = width_;
    *height = height_;
    return true;
  }

 private:
  std::mutex lock_;
  int width_;                              // guarded by lock_
  int height_;                             // guarded by lock_
  const std::uint32_t background_;         // what grown parts show until painted
  std::vector<std::uint32_t> surface_;     // guarded by lock_
  std::unique_ptr<HeadlessTarget> spare_;  // guarded by lock_
  bool destroyed_ = false;                 // guarded by lock_
};

void HeadlessTarget::Present(const std::vector<RECT>& dirty) {
  owner_->Present(*this, dirty);
}
void HeadlessTarget::Underlay(const RECT& r) {
  owner_->Underlay(*this, r);
}

class HeadlessBackend : public GdiBackend {
 public:
  GdiBackendKind Kind() const override { return GdiBackendKind::kHeadless; }
  std::unique_ptr<NativeWindow> CreateNativeWindow(const NativeWindowSpec& spec) override {
    return std::make_unique<HeadlessWindow>(spec.width, spec.height, spec.background.value_or(0));
  }
  std::vector<SIZE> Displays() override {
    HeadlessDisplays& displays = kwz_platform::Displays();
    std::lock_guard<std::mutex> guard(displays.lock);
    return displays.sizes;
  }
  bool ReadScreen(int x, int y, PixelImage& image) override {
    HeadlessDisplays& displays = kwz_platform::Displays();
    std::lock_guard<std::mutex> guard(displays.lock);
    if (displays.sizes.empty()) return false;
    const SIZE size = displays.sizes.front();
    for (int row = 0; row < image.height; ++row) {
      const int sy = y + row;
      if (sy < 0 || sy >= size.cy) continue;
      auto* out = reinterpret_cast<std::uint32_t*>(image.bits + row * image.stride);
      for (int col = 0; col < image.width; ++col) {
        const int sx = x + col;
        if (sx < 0 || sx >= size.cx) continue;
        const bool painted = sx < displays.screenWidth && sy < displays.screenHeight;
        out[col] =
            0xFF000000u |
            (painted ? displays.screen[static_cast<size_t>(sy) * displays.screenWidth + sx] : 0u);
      }
    }
    return true;
  }
  bool CursorPosition(POINT* where) override {
    HeadlessDisplays& displays = kwz_platform::Displays();
    std::lock_guard<std::mutex> guard(displays.lock);
    *where = displays.cursor;
    return true;
  }
  std::unique_ptr<NativeEventSource> CreateEventSource() override {
    return MakeHeadlessEventSource();
  }
};

}  // namespace

std::unique_ptr<GdiBackend> MakeHeadlessBackend() {
  return std::make_unique<HeadlessBackend>();
}

void SetHeadlessDisplays(const std::vector<SIZE>& sizes) {
  HeadlessDisplays& displays = Displays();
  std::lock_guard<std::mutex> guard(displays.lock);
  displays.sizes = sizes;
}

void SetHeadlessScreen(const std::vector<std::uint32_t>& pixels, int width, int height,
                       POINT cursor) {
  HeadlessDisplays& displays = Displays();
  std::lock_guard<std::mutex> guard(displays.lock);
  const bool whole = width > 0 && height > 0 &&
                     pixels.size() == static_cast<size_t>(width) * static_cast<size_t>(height);
  displays.screen = whole ? pixels : std::vector<std::uint32_t>();
  displays.screenWidth = whole ? width : 0;
  displays.screenHeight = whole ? height : 0;
  displays.cursor = cursor;
}

}  // namespace kwz_platform
