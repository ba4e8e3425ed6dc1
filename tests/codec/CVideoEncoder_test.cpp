// The block encoder: its settings, its life cycle, and blocks that the decoder reads back.
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

TEST(EncoderSetup, OnlyThirtyTwoBitBlocksOfASizeOpen) {
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
  encoder.SetCodecId(kwz_codec::kCodecMjpeg);
  EXPECT_EQ(encoder.Open(), S_OK);
  EXPECT_EQ(encoder.Open(), S_OK);
  EXPECT_TRUE(encoder.IsOpened());
  EXPECT_EQ(encoder.Close(), S_OK);
  EXPECT_EQ(encoder.Close(), S_OK);
  EXPECT_FALSE(encoder.IsOpened());
  EXPECT_EQ(encoder.Open(), S_OK);
}

class EncoderRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    BITMAPINFOHEADER block = Rgb(kBlock, kBlock, 32);
    ASSERT_EQ(encoder_.SetInputFormat(&block), S_OK);
  }
  // Codes the block and decodes it as the receiver does; returns the PSNR against source.
  double RoundTrip(const Image& source, int stride, const BYTE* first, DWORD* size) {
    std::vector<BYTE> jpeg(256 * 1024);
    EXPECT_EQ(encoder_.Encode(first, stride, jpeg.data(), static_cast<DWORD>(jpeg.size()), size),
              S_OK);
    jpeg.resize(*size);
    CodedFrame coded{jpeg, true};
    Harness harness(TestCodec::kMjpeg, kBlock, kBlock, 32, true);
    EXPECT_EQ(harness.DecodeFrame(coded), S_OK);
    return kwz_test::Psnr(source, harness.output.data(), harness.stride, 4, false);
  }
  CVideoEncoder encoder_;
};

// Quality 100 is the finest, 1 the coarsest; a value outside 1 to 100 changes nothing.
TEST_F(EncoderRoundTrip, BlocksDecodeCloseToTheSourceAndQualityTrades) {
  const Image source = kwz_test::MakeScreen(kBlock, kBlock, 0);
  double previousPsnr = 99;
  DWORD previousSize = ~0u;
  for (int quality : {100, 80, 1, 0, 101, -7}) {
    encoder_.Close();
    encoder_.SetQuality(quality);
    ASSERT_EQ(encoder_.Open(), S_OK);
    DWORD size = 0;
    const double psnr = RoundTrip(source, kBlock * 4, source.bgra.data(), &size);
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

TEST_F(EncoderRoundTrip, BottomUpSourceThroughANegativeStride) {
  const Image source = kwz_test::MakeScreen(kBlock, kBlock, 1);
  Image flipped = source;
  for (int y = 0; y < kBlock; ++y) {
    std::copy_n(source.bgra.begin() + y * kBlock * 4, kBlock * 4,
                flipped.bgra.begin() + (kBlock - 1 - y) * kBlock * 4);
  }
  encoder_.SetQuality(90);
  ASSERT_EQ(encoder_.Open(), S_OK);
  DWORD size = 0;
  const BYTE* topRow = flipped.bgra.data() + (kBlock - 1) * kBlock * 4;
  EXPECT_GE(RoundTrip(source, -kBlock * 4, topRow, &size), 30);
}

TEST_F(EncoderRoundTrip, RefusesWhenClosedOrWithoutRoom) {
  const Image source = kwz_test::MakeScreen(kBlock, kBlock, 0);
  std::vector<BYTE> out(64);
  DWORD size = 0;
  EXPECT_EQ(encoder_.Encode(source.bgra.data(), kBlock * 4, out.data(), 64, &size), E_FAIL);
  ASSERT_EQ(encoder_.Open(), S_OK);
  EXPECT_EQ(encoder_.Encode(nullptr, kBlock * 4, out.data(), 64, &size), E_FAIL);
  EXPECT_EQ(encoder_.Encode(source.bgra.data(), kBlock * 4, out.data(), 64, &size), 1);
  EXPECT_EQ(encoder_.Encode(source.bgra.data(), kBlock * 4 - 1, out.data(), 64, &size), 1);
}

}  // namespace
