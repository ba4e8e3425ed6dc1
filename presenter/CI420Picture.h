// A planar YUV 4:2:0 picture (BT.601, studio range) in one contiguous buffer, Y then U then V,
// each plane without row padding. Every encoder's input; filled from the captured BGRA screen.
// Owned by its encoder and used on the encoding thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CI420Picture {
 public:
  // width and height even and positive.
  CI420Picture(int width, int height);

  // Converts a 32-bit BGRA picture of the same size, top row first. False when the source is
  // null or its stride is below width × 4.
  bool ConvertFromBgra(const uint8_t* bgra, int strideBytes);

  int Width() const { return m_width; }
  int Height() const { return m_height; }
  int StrideY() const { return m_width; }
  int StrideUV() const { return m_width / 2; }
  uint8_t* Y() { return m_data.data(); }
  uint8_t* U() { return Y() + static_cast<size_t>(m_width) * m_height; }
  uint8_t* V() { return U() + static_cast<size_t>(m_width / 2) * (m_height / 2); }
  const uint8_t* Y() const { return m_data.data(); }
  const uint8_t* U() const { return Y() + static_cast<size_t>(m_width) * m_height; }
  const uint8_t* V() const { return U() + static_cast<size_t>(m_width / 2) * (m_height / 2); }
  const std::vector<uint8_t>& Bytes() const { return m_data; }

 private:
  int m_width;
  int m_height;
  std::vector<uint8_t> m_data;
};
