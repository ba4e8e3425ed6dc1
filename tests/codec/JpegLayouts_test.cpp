// JPEG blocks in every chroma layout a JPEG may carry, made with libjpeg: the decoder must
// read only inside the planes it is given and still show the right picture.
#include <gtest/gtest.h>
#include <stdio.h>

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/winerror.h"
#include "tests/codec/DecoderHarness.h"

namespace {

using kwz_test::CodedFrame;
using kwz_test::Harness;
using kwz_test::Image;
using kwz_test::TestCodec;

struct Layout {
  const char* name;
  int components;  // 1: grey
  int h[3], v[3];  // sampling factors of Y, Cb, Cr
  int width, height;
};

// The studio-range samples that the decoder's conversion turns back into the source.
void ToYCbCr(const BYTE* bgra, BYTE* out) {
  const double b = bgra[0], g = bgra[1], r = bgra[2];
  auto clamp = [](double v) { return static_cast<BYTE>(std::clamp(std::lround(v), 0L, 255L)); };
  out[0] = clamp(16 + 0.257 * r + 0.504 * g + 0.098 * b);
  out[1] = clamp(128 - 0.148 * r - 0.291 * g + 0.439 * b);
  out[2] = clamp(128 + 0.439 * r - 0.368 * g - 0.071 * b);
}

std::vector<BYTE> EncodeJpeg(const Image& image, const Layout& layout) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr error;
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(image.width);
  cinfo.image_height = static_cast<JDIMENSION>(image.height);
  cinfo.input_components = layout.components;
  cinfo.in_color_space = layout.components == 1 ? JCS_GRAYSCALE : JCS_YCbCr;
  jpeg_set_defaults(&cinfo);
  jpeg_set_colorspace(&cinfo, cinfo.in_color_space);
  for (int c = 0; c < layout.components; ++c) {
    cinfo.comp_info[c].h_samp_factor = layout.h[c];
    cinfo.comp_info[c].v_samp_factor = layout.v[c];
  }
  jpeg_set_quality(&cinfo, 95, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<BYTE> row(static_cast<size_t>(image.width) * 3);
  while (cinfo.next_scanline < cinfo.image_height) {
    const BYTE* src =
        image.bgra.data() + static_cast<size_t>(cinfo.next_scanline) * image.width * 4;
    for (int x = 0; x < image.width; ++x) {
      BYTE ycc[3];
      ToYCbCr(src + 4 * x, ycc);
      std::copy(ycc, ycc + layout.components, row.begin() + x * layout.components);
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<BYTE> out(buffer, buffer + size);
  free(buffer);
  return out;
}

class JpegLayouts : public ::testing::TestWithParam<Layout> {};

TEST_P(JpegLayouts, DecodeTopDownCloseToTheSource) {
  const Layout& layout = GetParam();
  Image source = kwz_test::MakeScreen(layout.width, layout.height, 0);
  if (layout.components == 1) {
    // The grey picture the decoder should show: each pixel's luma, with neutral chroma.
    for (size_t p = 0; p < source.bgra.size(); p += 4) {
      BYTE ycc[3];
      ToYCbCr(&source.bgra[p], ycc);
      const BYTE grey = static_cast<BYTE>(std::clamp(std::lround(1.164 * (ycc[0] - 16)), 0L, 255L));
      source.bgra[p] = source.bgra[p + 1] = source.bgra[p + 2] = grey;
    }
  }
  CodedFrame coded;
  coded.data = EncodeJpeg(source, layout);
  coded.key = true;
  Harness harness(TestCodec::kMjpeg, layout.width, layout.height, 32, true);
  ASSERT_EQ(harness.decoder.Open(), S_OK);
  ASSERT_EQ(harness.DecodeFrame(coded), S_OK);
  // The desktop's sharp edges cost a JPEG a few dB; a wrong layout costs far more.
  EXPECT_GE(kwz_test::Psnr(source, harness.output.data(), harness.stride, 4, false), 22);
}

INSTANTIATE_TEST_SUITE_P(Sampling, JpegLayouts,
                         ::testing::Values(Layout{"Grey", 1, {1}, {1}, 100, 100},
                                           Layout{"Yuv420", 3, {2, 1, 1}, {2, 1, 1}, 100, 100},
                                           Layout{"Yuv422", 3, {2, 1, 1}, {1, 1, 1}, 100, 100},
                                           Layout{"Yuv440", 3, {1, 1, 1}, {2, 1, 1}, 100, 100},
                                           Layout{"Yuv444", 3, {1, 1, 1}, {1, 1, 1}, 100, 100},
                                           Layout{"Yuv411", 3, {4, 1, 1}, {1, 1, 1}, 100, 100},
                                           Layout{"Yuv444Odd", 3, {1, 1, 1}, {1, 1, 1}, 99, 37},
                                           Layout{"Yuv420Odd", 3, {2, 1, 1}, {2, 1, 1}, 99, 37},
                                           Layout{"GreyOdd", 1, {1}, {1}, 51, 27}),
                         [](const testing::TestParamInfo<Layout>& info) {
                           return info.param.name;
                         });

}  // namespace
