// The block encoder: its settings, its life cycle, and blocks that the decoder reads back. The
// presenter's block coder and the engine's JPEG blocks drive it end to end.
#include "codec/CVideoEncoder.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/winerror.h"
#include "tests/codec/DecoderHarness.h"

namespace {

using kwz_test::CodedFrame;
using kwz_test::Harness;
using kwz_test::Image;
using kwz_test::TestCodec;

constexpr int kBlock = 100;

BITMAPINFOHEADER Rgb(LONG width, LONG height, WORD bits) {
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof(header);
  header.biWidth = width;
  header.biHeight = height;
  header.biBitCount = bits;
  header.biCompression = BI_RGB;
  return header;
}

// Only 32-bit blocks of a size open, and an open encoder codes only into room enough.
TEST(EncoderSetup, OnlyThirtyTwoBitBlocksOfASizeOpenAndCodeIntoRoomEnough) {
  CVideoEncoder encoder;
  BITMAPINFOHEADER rgb24 = Rgb(kBlock, kBlock, 24);
  EXPECT_EQ(encoder.SetInputFormat(&rgb24), E_FAIL);
  EXPECT_EQ(encoder.SetInputFormat(nullptr), E_FAIL);
  EXPECT_EQ(encoder.Open(), E_FAIL);  // no size yet
  BITMAPINFOHEADER empty = Rgb(0, kBlock, 32);
  ASSERT_EQ(encoder.SetInputFormat(&empty), S_OK);
  EXPECT_EQ(encoder.Open(), E_FAIL);
  BITMAPINFOHEADER block = Rgb(kBlock, kBlock, 32);
  ASSERT_EQ(encoder.SetInputFormat(&block), S_OK);
  EXPECT_EQ(encoder.InputFormat(), kwz_codec::kFormatRgb32);
  encoder.SetCodecId(kwz_codec::kCodecH264);
  EXPECT_EQ(encoder.Open(), E_FAIL);

  const Image source = kwz_test::MakeScreen(kBlock, kBlock, 0);
  std::vector<BYTE> out(64);
  DWORD size = 0;
  EXPECT_EQ(encoder.Encode(source.bgra.data(), kBlock * 4, out.data(), 64, &size), E_FAIL);
  encoder.SetCodecId(kwz_codec::kCodecMjpeg);
  EXPECT_EQ(encoder.Open(), S_OK);
  EXPECT_EQ(encoder.Open(), S_OK);
  EXPECT_EQ(encoder.Encode(nullptr, kBlock * 4, out.data(), 64, &size), E_FAIL);
  EXPECT_EQ(encoder.Encode(source.bgra.data(), kBlock * 4, out.data(), 64, &size), 1);
  EXPECT_EQ(encoder.Encode(source.bgra.data(), kBlock * 4 - 1, out.data(), 64, &size), 1);
  EXPECT_EQ(encoder.Close(), S_OK);
  EXPECT_EQ(encoder.Close(), S_OK);
  EXPECT_FALSE(encoder.IsOpened());
  EXPECT_EQ(encoder.Open(), S_OK);
}

// Blocks decode close to the source; quality 100 is the finest, 1 the coarsest, and a value
// outside 1 to 100 changes nothing.
TEST(EncoderQuality, BlocksDecodeCloseToTheSourceAndQualityTrades) {
  CVideoEncoder encoder;
  BITMAPINFOHEADER block = Rgb(kBlock, kBlock, 32);
  ASSERT_EQ(encoder.SetInputFormat(&block), S_OK);
  const Image source = kwz_test::MakeScreen(kBlock, kBlock, 0);
  double previousPsnr = 99;
  DWORD previousSize = ~0u;
  for (int quality : {100, 80, 1, 0, 101, -7}) {
    encoder.Close();
    encoder.SetQuality(quality);
    ASSERT_EQ(encoder.Open(), S_OK);
    std::vector<BYTE> jpeg(256 * 1024);
    DWORD size = 0;
    ASSERT_EQ(encoder.Encode(source.bgra.data(), kBlock * 4, jpeg.data(),
                             static_cast<DWORD>(jpeg.size()), &size),
              S_OK);
    jpeg.resize(size);
    Harness harness(TestCodec::kMjpeg, kBlock, kBlock, 32, true);
    ASSERT_EQ(harness.DecodeFrame(CodedFrame{jpeg, true}), S_OK);
    const double psnr = kwz_test::Psnr(source, harness.output.data(), harness.stride, 4, false);
    const bool inRange = quality >= 1 && quality <= 100;
    if (inRange && quality >= 80) {
      EXPECT_GE(psnr, 30) << quality;
    }
    if (inRange) {
      EXPECT_LT(psnr, previousPsnr) << quality;
      EXPECT_LT(size, previousSize) << quality;
    } else {
      EXPECT_EQ(psnr, previousPsnr) << quality;
      EXPECT_EQ(size, previousSize) << quality;
    }
    previousPsnr = psnr;
    previousSize = size;
  }
}

}  // namespace
