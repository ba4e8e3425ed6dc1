// An engine set up on a free loopback port, painting into a headless window, with a sender
// aimed at it; and pictures cut into the zlib blocks of stream mode 1 at 32 bits.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/CScreenSharing.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/engine/PaintTestSupport.h"
#include "tests/engine/SurfaceTestSupport.h"

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
  const int rows = height / kBlock;
  std::vector<Bytes> bodies;
  for (int index = 0; index < columns * rows; ++index) {
    const int gridColumn = index % columns;
    const int gridRow = index / columns;
    Bytes raw;
    raw.reserve(kBlock * kBlock * 4);
    for (int k = 0; k < kBlock; ++k) {
      const int y = height - 1 - (gridRow * kBlock + k);
      for (int c = 0; c < kBlock; ++c) {
        const std::uint32_t p =
            picture[static_cast<std::size_t>(y) * width + gridColumn * kBlock + c];
        raw.push_back(static_cast<std::uint8_t>(p));
        raw.push_back(static_cast<std::uint8_t>(p >> 8));
        raw.push_back(static_cast<std::uint8_t>(p >> 16));
        raw.push_back(0);
      }
    }
    bodies.push_back(Zlib(raw));
  }
  return bodies;
}

// A geometry-only message (stream mode 0): it sets the screen's size and paints nothing.
inline presenter::ScreenMessageFields Geometry(std::uint16_t width, std::uint16_t height,
                                               std::uint8_t bytesPerPixel = 4) {
  presenter::ScreenMessageFields fields;
  fields.streamMode = 0;
  fields.bytesPerPixel = bytesPerPixel;
  fields.width = width;
  fields.height = height;
  return fields;
}

inline presenter::ScreenMessageFields BlockFields(std::uint16_t width, std::uint16_t height,
                                                  std::uint16_t index,
                                                  std::uint16_t cursorX = presenter::kNoCursor,
                                                  std::uint16_t cursorY = presenter::kNoCursor) {
  presenter::ScreenMessageFields fields;
  fields.streamMode = 1;
  fields.bytesPerPixel = 4;
  fields.width = width;
  fields.height = height;
  fields.blockIndex = index;
  fields.cursorX = cursorX;
  fields.cursorY = cursorY;
  return fields;
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

  // Sends every block of picture (kWidth x kHeight), the last one carrying the cursor.
  void SendPicture(const std::vector<std::uint32_t>& picture,
                   std::uint16_t cursorX = presenter::kNoCursor,
                   std::uint16_t cursorY = presenter::kNoCursor) {
    const std::vector<Bytes> blocks = ZlibBlocks(picture, kWidth, kHeight);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      const bool last = i + 1 == blocks.size();
      sender_->Send(
          BlockFields(kWidth, kHeight, static_cast<std::uint16_t>(i),
                      last ? cursorX : presenter::kNoCursor, last ? cursorY : presenter::kNoCursor),
          blocks[i]);
    }
  }
  bool WindowShows(const std::vector<std::uint32_t>& picture) const {
    return window_->Pixels() == picture;
  }
  RECT ScreenRect() const {
    RECT r{-1, -1, -1, -1};
    engine_->GetScreenRect(&r);
    return r;
  }

  USHORT port_ = 0;
  std::unique_ptr<TestWindow> window_;
  std::unique_ptr<CScreenSharing> engine_;
  std::unique_ptr<ScreenSender> sender_;
};

}  // namespace kwz_test
