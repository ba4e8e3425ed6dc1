// The screen message against the presenter's writer: header fields into the frame description,
// the acceptance rules, and the bounds on geometry that comes off the wire.
#include "packet/CSSPacket.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "presenter/ScreenMessageWriter.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Loads raw message bytes into a packet as the receiver would leave them.
void Fill(CSSPacket* packet, const Bytes& message) {
  ASSERT_LE(message.size(), packet->m_dwCapacity);
  if (!message.empty()) std::memcpy(packet->m_pData, message.data(), message.size());
  packet->m_dwLength = static_cast<DWORD>(message.size());
  packet->LoadHeader();
}

Bytes Written(const presenter::ScreenMessageFields& fields, std::size_t bodyLength) {
  Bytes body(bodyLength);
  for (std::size_t i = 0; i < bodyLength; ++i) body[i] = static_cast<std::uint8_t>(i * 7 + 3);
  Bytes out;
  presenter::WriteScreenMessage(fields, body.data(), body.size(), &out);
  return out;
}

// Header fields into the frame description.
TEST(CSSPacket, HeaderFillsTheFrameDescription) {
  const struct {
    const char* name;
    std::uint8_t mode, bytesPerPixel;
    std::uint16_t width, height, blockIndex;
    WORD bitCount;
    std::uint64_t stride;
    DWORD sizeImage;
  } cases[] = {
      {"odd width at 8 bits pads to 1024", 1, 1, 1023, 10, 7, 8, 1024, 10240},
      {"24-bit rows pad to 4", 4, 3, 5, 2, 0, 24, 16, 32},
      {"geometry only, empty screen", 0, 4, 0, 0, 0, 32, 0, 0},
      // 8192 x 4096 at 32 bits is exactly 128 MiB: the last size accepted; the largest index.
      {"at the size bound", 6, 4, 8192, 4096, 0xFFFF, 32, 32768, 128u << 20},
      // Bytes per pixel is not checked against the modes; only the size bound applies.
      {"odd bytes per pixel", 5, 255, 3, 3, 0, 2040, 768, 2304}};
  for (const auto& m : cases) {
    SCOPED_TRACE(m.name);
    presenter::ScreenMessageFields fields;
    fields.streamMode = m.mode;
    fields.bytesPerPixel = m.bytesPerPixel;
    fields.width = m.width;
    fields.height = m.height;
    fields.blockIndex = m.blockIndex;
    fields.imageSize = 12345;  // the sender's figure must not leak into biSizeImage
    fields.cursorY = 0x8001;
    CSSPacket packet(4096);
    Fill(&packet, Written(fields, 10));
    ASSERT_EQ(packet.Check(), ScreenPacketVerdict::kAccepted);
    BITMAPINFOHEADER out;
    std::memset(&out, 0xCD, sizeof out);
    DWORD blockIndex = 0xDEADBEEF;
    ASSERT_TRUE(packet.ParseHeader(&out, &blockIndex));
    EXPECT_EQ(out.biBitCount, m.bitCount);
    EXPECT_EQ(out.biWidth, m.width);
    EXPECT_EQ(out.biHeight, m.height);
    EXPECT_EQ(out.biCompression, m.mode);
    EXPECT_EQ(CSSPacket::Stride(m.bitCount, m.width), m.stride);
    EXPECT_EQ(out.biSizeImage, m.sizeImage);
    EXPECT_EQ(blockIndex, m.blockIndex);
    // Everything the header does not carry is zero.
    EXPECT_EQ(out.biSize | out.biPlanes | out.biXPelsPerMeter | out.biYPelsPerMeter |
                  out.biClrUsed | out.biClrImportant,
              0u);
    EXPECT_EQ(packet.Body(), packet.m_pData + screen_packet::kHeaderSize);
    EXPECT_EQ(DWORD{packet.Header().CursorY}, 0x8001u);  // zero-extended
  }
}

// A written message of 100 x 100 blocks, its length changed by lengthDelta and then the fields
// given changed: magic (0), width (6) and height (8) are 16-bit, the others single bytes.
TEST(CSSPacket, AcceptanceVerdicts) {
  using V = ScreenPacketVerdict;
  const struct {
    const char* name;
    std::size_t bodyLength;
    int lengthDelta;
    std::vector<std::pair<std::size_t, std::uint16_t>> fields;
    ScreenPacketVerdict verdict;
  } cases[] = {
      {"HeaderOnlyWithEmptyBody", 0, 0, {}, V::kAccepted},
      {"LargestBody", 65535, 0, {}, V::kAccepted},
      {"LastModeSix", 10, 0, {{2, 6}}, V::kAccepted},
      {"MagicBytesSwapped", 10, 0, {{0, 0x515A}}, V::kBadMagic},
      {"ModeSeven", 10, 0, {{2, 7}}, V::kBadStreamMode},
      // The length disagrees with BodyLength; a 65536-byte body wraps it to 0.
      {"OneByteShorter", 10, -1, {}, V::kBadLength},
      {"BodyTooLongForSixteenBits", 65536, 0, {}, V::kBadLength},
      {"ShorterThanAHeader", 0, -1, {}, V::kBadLength},
      // Geometry that would make the receiver allocate without bound. A side past
      // what the decoders open (8192) is refused here, not left to fail in them; 8192
      // x 8192 at 32 bits, 8192 x 4097, is one row over 128 MiB.
      {"WiderThanBound", 0, 0, {{6, 8193}}, V::kImageTooLarge},
      {"TallerThanBound", 0, 0, {{8, 8193}}, V::kImageTooLarge},
      {"LargestFieldsEverywhere", 0, 0, {{6, 0xFFFF}, {8, 0xFFFF}, {3, 0xFF}}, V::kImageTooLarge},
      {"OneRowOverSizeBound", 0, 0, {{6, 8192}, {8, 4097}}, V::kImageTooLarge}};
  for (const auto& a : cases) {
    SCOPED_TRACE(a.name);
    presenter::ScreenMessageFields fields;
    fields.streamMode = 1;
    fields.width = 100;
    fields.height = 100;
    Bytes message = Written(fields, a.bodyLength);
    for (const auto& [at, value] : a.fields) {
      message[at] = static_cast<std::uint8_t>(value);
      if (at == 0 || at == 6 || at == 8) message[at + 1] = static_cast<std::uint8_t>(value >> 8);
    }
    message.resize(message.size() + a.lengthDelta);
    CSSPacket packet(70000);
    Fill(&packet, message);
    EXPECT_EQ(packet.Check(), a.verdict);
    if (a.verdict == V::kImageTooLarge) {
      BITMAPINFOHEADER out;
      DWORD blockIndex;
      EXPECT_FALSE(packet.ParseHeader(&out, &blockIndex));
      EXPECT_EQ(out.biSizeImage, 0u);
    }
  }
}

TEST(CSSPacket, CopyBodyNeedsRoomForTheWholeBody) {
  CSSPacket packet(200);
  Fill(&packet, Written(presenter::ScreenMessageFields{}, 50));
  Bytes dst(50, 0);
  DWORD size = 49;
  EXPECT_FALSE(packet.CopyBody(dst.data(), &size));
  EXPECT_EQ(dst, Bytes(50, 0));
  size = 50;
  ASSERT_TRUE(packet.CopyBody(dst.data(), &size));
  EXPECT_EQ(0, std::memcmp(dst.data(), packet.m_pData + 29, 50));
}

// Reset clears the bookkeeping, grows only upwards and keeps the old buffer when it cannot grow;
// a packet without capacity has no acceptable header.
TEST(CSSPacket, ResetGrowsOnlyUpwards) {
  CSSPacket packet(1000);
  packet.m_dwLength = 10;
  packet.m_dwSequence = 12;
  BYTE* before = packet.m_pData;
  ASSERT_TRUE(packet.Reset(500));
  EXPECT_EQ(packet.m_pData, before);
  EXPECT_EQ(packet.m_dwLength | packet.m_dwSequence, 0u);
  EXPECT_FALSE(packet.Reset(0xFFFFFFFF));  // beyond what the allocator takes
  EXPECT_EQ(packet.m_pData, before);
  EXPECT_EQ(packet.m_dwCapacity, 1000u);
  ASSERT_TRUE(packet.Reset(4196352));
  packet.m_pData[4196351] = 1;  // the whole new capacity is usable

  CSSPacket empty(0);
  empty.LoadHeader();
  EXPECT_NE(empty.Check(), ScreenPacketVerdict::kAccepted);
}

}  // namespace
