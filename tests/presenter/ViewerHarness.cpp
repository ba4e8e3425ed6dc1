#include "tests/presenter/ViewerHarness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace kwz_test {

std::vector<SentMessage> StreamFrame(presenter::CScreenStreamer& streamer,
                                     const presenter::ScreenFrame& frame,
                                     presenter::FrameOutcome* outcome) {
  std::vector<SentMessage> out;
  const presenter::FrameOutcome result =
      streamer.AddFrame(frame, [&](const std::uint8_t* data, std::size_t length) {
        SentMessage m;
        m.bytes.assign(data, data + length);
        EXPECT_GE(length, 29u);
        if (length < 29) return;
        auto u16 = [&](int at) { return static_cast<std::uint16_t>(data[at] | data[at + 1] << 8); };
        m.mode = data[2];
        m.bytesPerPixel = data[3];
        m.width = u16(6);
        m.height = u16(8);
        m.cursorX = u16(20);
        m.cursorY = u16(22);
        m.blockIndex = u16(25);
        m.bodyLength = u16(27);
        out.push_back(std::move(m));
      });
  if (outcome != nullptr) *outcome = result;
  return out;
}

ViewerHarness::ViewerHarness() : m_packet(180000), m_surface(100, 100) {}

std::int32_t ViewerHarness::Take(const SentMessage& message) {
  const DWORD length = static_cast<DWORD>(message.bytes.size());
  if (length > m_packet.m_dwCapacity) {
    EXPECT_TRUE(m_packet.Grow(length));
  }
  std::memcpy(m_packet.m_pData, message.bytes.data(), length);
  m_packet.m_dwLength = length;
  m_packet.LoadHeader();
  EXPECT_EQ(m_packet.Check(), ScreenPacketVerdict::kAccepted);
  if (m_packet.Check() != ScreenPacketVerdict::kAccepted) return -2;
  BITMAPINFOHEADER header{};
  DWORD blockIndex = 0;
  EXPECT_TRUE(m_packet.ParseHeader(&header, &blockIndex));
  // The engine replaces the stream mode by the bytes per pixel before decoding.
  m_surface.SetStreamMode(header.biCompression);
  header.biCompression = header.biBitCount / 8;
  const std::uint32_t bodyLength = m_packet.Header().BodyLength;
  return m_surface.DecodeMessage(header, blockIndex, bodyLength ? m_packet.Body() : nullptr,
                                 bodyLength);
}

std::vector<std::uint8_t> ViewerHarness::VisibleBgr(int width, int height) const {
  const BITMAPINFOHEADER& surface = m_surface.SurfaceHeader();
  std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * height * 3);
  const int bytes = surface.biBitCount / 8;
  const bool fits = m_surface.Pixels() != nullptr && bytes >= 3 && surface.biWidth >= width &&
                    surface.biHeight >= height;
  EXPECT_TRUE(fits) << surface.biWidth << "x" << surface.biHeight << "x" << bytes;
  if (!fits) return out;
  for (int y = 0; y < height; ++y) {
    // Bottom-up: the picture's top row is the bitmap's last memory row.
    const std::uint8_t* row =
        m_surface.Pixels() +
        static_cast<std::size_t>(surface.biHeight - 1 - y) * m_surface.Stride();
    for (int x = 0; x < width; ++x)
      std::memcpy(out.data() + (static_cast<std::size_t>(y) * width + x) * 3, row + x * bytes, 3);
  }
  return out;
}

double PsnrBgr(const std::vector<std::uint8_t>& bgra, const std::vector<std::uint8_t>& bgr,
               int width, int height) {
  double squares = 0;
  const std::size_t pixels = static_cast<std::size_t>(width) * height;
  for (std::size_t p = 0; p < pixels; ++p) {
    for (int c = 0; c < 3; ++c) {
      const double d = static_cast<double>(bgra[p * 4 + c]) - static_cast<double>(bgr[p * 3 + c]);
      squares += d * d;
    }
  }
  if (squares == 0) return std::numeric_limits<double>::infinity();
  const double mse = squares / static_cast<double>(pixels * 3);
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}

std::vector<std::uint8_t> FlipRows(const std::vector<std::uint8_t>& pixels, int rowBytes) {
  std::vector<std::uint8_t> out(pixels.size());
  const std::size_t rows = pixels.size() / static_cast<std::size_t>(rowBytes);
  for (std::size_t r = 0; r < rows; ++r) {
    std::memcpy(out.data() + r * rowBytes, pixels.data() + (rows - 1 - r) * rowBytes,
                static_cast<std::size_t>(rowBytes));
  }
  return out;
}

presenter::ScreenFrame FrameOf(const std::vector<std::uint8_t>& bgra, int width, int height) {
  presenter::ScreenFrame frame;
  frame.screen = presenter::BgraView{bgra.data(), width, height, width * 4};
  return frame;
}

}  // namespace kwz_test
