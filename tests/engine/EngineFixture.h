// An engine set up on a free loopback port, painting into a headless window, with a sender
// aimed at it; and pictures cut into the zlib blocks of stream mode 1 at 32 bits.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/CScreenSharing.h"
#include "tests/engine/EngineTestSupport.h"

namespace kwz_test {

constexpr std::uint16_t kBlock = 100;

// A picture of width x height, 0xFFRRGGBB, top row first, from a seeded generator.
inline std::vector<std::uint32_t> Picture(int width, int height, std::uint32_t seed) {
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
  std::uint32_t x = seed * 2654435761u + 7;
  for (auto& p : pixels) {
    x = x * 1664525u + 1013904223u;
    p = 0xFF000000u | (x >> 8);
  }
  return pixels;
}

// The zlib body of each block of a picture whose sides are multiples of the block size, in
// block-index order. Grid row 0 is the bottom of the bottom-up bitmap, and a block's rows run
// upwards too; a 32-bit pixel is stored B, G, R, 0.
inline std::vector<Bytes> ZlibBlocks(const std::vector<std::uint32_t>& picture, int width,
                                     int height) {
  const int columns = width / kBlock;
  std::vector<Bytes> bodies;
  for (int index = 0; index < columns * (height / kBlock); ++index) {
    Bytes raw;
    for (int k = 0; k < kBlock * kBlock; ++k) {
      const int y = height - 1 - (index / columns * kBlock + k / kBlock);
      const std::uint32_t p =
          picture[static_cast<std::size_t>(y) * width + index % columns * kBlock + k % kBlock];
      raw.insert(raw.end(), {static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(p >> 8),
                             static_cast<std::uint8_t>(p >> 16), 0});
    }
    bodies.push_back(Zlib(raw));
  }
  return bodies;
}

// A geometry-only message (stream mode 0): it sets the screen's size and paints nothing.
inline presenter::ScreenMessageFields Geometry(std::uint16_t width, std::uint16_t height) {
  presenter::ScreenMessageFields fields;
  fields.streamMode = 0;
  fields.bytesPerPixel = 4;
  fields.width = width;
  fields.height = height;
  return fields;
}

// A zlib block at 32 bits, with the cursor, if any.
inline presenter::ScreenMessageFields BlockFields(std::uint16_t width, std::uint16_t height,
                                                  std::uint16_t index,
                                                  std::uint16_t cursorX = presenter::kNoCursor,
                                                  std::uint16_t cursorY = presenter::kNoCursor) {
  presenter::ScreenMessageFields fields = Geometry(width, height);
  fields.streamMode = 1;
  fields.blockIndex = index;
  fields.cursorX = cursorX;
  fields.cursorY = cursorY;
  return fields;
}

// Whether the engine's screen rectangle is {0, 0, width, height}.
inline bool ShowsRect(const CScreenSharing& engine, LONG width, LONG height) {
  RECT r{-1, -1, -1, -1};
  engine.GetScreenRect(&r);
  return r.left == 0 && r.top == 0 && r.right == width && r.bottom == height;
}

// The engine as the control sets it up, but on 127.0.0.1 and a free even port.
class EngineOnLoopback : public ::testing::Test {
 protected:
  static constexpr int kWidth = 300;
  static constexpr int kHeight = 200;

  void SetUp() override {
    UseHeadlessGdi();
    kwz_platform::SetHeadlessDisplays({SIZE{1920, 1080}});
    port_ = FreeEvenPort();
    ASSERT_NE(port_, 0);
    window_ = std::make_unique<TestWindow>(kWidth, kHeight);
    engine_ = std::make_unique<CScreenSharing>();
    engine_->m_dwPort = port_;
    engine_->SetLocalAddress("127.0.0.1");
    engine_->SetWindow(window_->Get());
    sender_ = std::make_unique<ScreenSender>("127.0.0.1", port_);
  }
  void TearDown() override {
    engine_.reset();  // stops the thread before the window goes
    window_.reset();
  }

  bool ShowsRect(LONG width, LONG height) const {
    return kwz_test::ShowsRect(*engine_, width, height);
  }

  USHORT port_ = 0;
  std::unique_ptr<TestWindow> window_;
  std::unique_ptr<CScreenSharing> engine_;
  std::unique_ptr<ScreenSender> sender_;
};

}  // namespace kwz_test
