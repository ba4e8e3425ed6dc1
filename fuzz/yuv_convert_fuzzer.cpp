// libFuzzer target for the YCbCr-to-RGB path of the decoders: a picture of any chroma layout a
// decoder can emit is viewed as 4:2:0 and converted to 32-bit, 24-bit or 15-bit BGR. Input:
//
//   u8 layout (table below), u8 width - 1 (mod 96), u8 height - 1 (mod 96), per plane u8 row
//   padding (bit 7 set: a row one byte too short), u8 output form (mod 3), u8 output row
//   padding (mod 32), u8 alpha; then the plane bytes, repeated as needed
//
// Planes and output sit in allocations of exactly their size (AddressSanitizer sees a step past
// them). An accepted picture converts by BT.601 studio range to within rounding, each chroma
// sample taken from the source sample covering the top-left pixel of its 2x2 square.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "codec/Planar420.h"
#include "fuzz/FuzzSupport.h"
#include "platform/ipp.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

namespace {

using kwz_fuzz::Reader;

// The first kConvertible are 8-bit planar YCbCr or grey, one component per plane.
constexpr AVPixelFormat kLayouts[] = {
    AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV422P,    AV_PIX_FMT_YUVJ422P,
    AV_PIX_FMT_YUV440P, AV_PIX_FMT_YUVJ440P, AV_PIX_FMT_YUV444P,    AV_PIX_FMT_YUVJ444P,
    AV_PIX_FMT_YUV411P, AV_PIX_FMT_YUVJ411P, AV_PIX_FMT_GRAY8,      AV_PIX_FMT_YUV410P,
    AV_PIX_FMT_NV12,    AV_PIX_FMT_YUYV422,  AV_PIX_FMT_YUV420P10LE};
constexpr std::size_t kConvertible = 12;
constexpr int kTolerance = 2;

int Clamp(double value) {
  return static_cast<int>(std::lround(std::clamp(value, 0.0, 255.0)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in(data, size);
  const std::size_t layout = in.U8() % std::size(kLayouts);
  const AVPixelFormat format = kLayouts[layout];
  const int width = 1 + in.U8() % 96;
  const int height = 1 + in.U8() % 96;
  std::uint8_t padding[3] = {in.U8(), in.U8(), in.U8()};
  const int form = in.U8() % 3;
  const int outPadding = in.U8() % 32;
  const std::uint8_t alpha = in.U8();
  const std::vector<std::uint8_t> samples = in.Bytes(in.Remaining());

  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  KWZ_FUZZ_CHECK(desc != nullptr);
  AVFrame frame{};
  frame.format = format;
  frame.width = width;
  frame.height = height;
  std::unique_ptr<std::uint8_t[]> planes[4];
  std::size_t next = 0;
  bool shortRows = false;  // a plane that is read has rows shorter than its samples
  for (int p = 0; p < 4 && p < av_pix_fmt_count_planes(format); ++p) {
    const bool chroma = p == 1 || p == 2;
    const int planeWidth = chroma ? -((-width) >> desc->log2_chroma_w) : width;
    const int planeHeight = chroma ? -((-height) >> desc->log2_chroma_h) : height;
    const int sampleBytes = desc->comp[p < desc->nb_components ? p : 0].step;
    const int rowBytes = planeWidth * std::max(sampleBytes, 1);
    const int pad = p < 3 ? padding[p] : 0;
    const int stride = (pad & 0x80) != 0 ? std::max(rowBytes - 1, 1) : rowBytes + (pad & 0x3F);
    if (stride < rowBytes && p < desc->nb_components) shortRows = true;
    const std::size_t bytes = static_cast<std::size_t>(stride) * planeHeight;
    planes[p].reset(new std::uint8_t[bytes]);
    for (std::size_t i = 0; i < bytes; ++i, ++next)
      planes[p][i] =
          samples.empty() ? static_cast<std::uint8_t>(next * 37) : samples[next % samples.size()];
    frame.data[p] = planes[p].get();
    frame.linesize[p] = stride;
  }

  kwz_codec::Planar420 planar;
  kwz_codec::YuvPicture picture;
  const bool viewed = planar.View(frame, &picture);
  KWZ_FUZZ_CHECK(viewed == (layout < kConvertible && !shortRows));
  if (!viewed) return 0;
  KWZ_FUZZ_CHECK(picture.width == width && picture.height == height);

  // What each 4:2:0 sample must be: the source sample covering the top-left of its square.
  const bool grey = desc->nb_components == 1;
  auto chromaAt = [&](int c, int x, int y) -> int {
    if (grey) return 128;
    const int sx =
        std::min((2 * (x / 2)) >> desc->log2_chroma_w, -((-width) >> desc->log2_chroma_w) - 1);
    const int sy =
        std::min((2 * (y / 2)) >> desc->log2_chroma_h, -((-height) >> desc->log2_chroma_h) - 1);
    return frame.data[c][static_cast<std::size_t>(sy) * frame.linesize[c] + sx];
  };

  const int pixelBytes = form == 0 ? 4 : form == 1 ? 3 : 2;
  const int outStride = width * pixelBytes + outPadding;
  const std::size_t outBytes = static_cast<std::size_t>(outStride) * height;
  std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[outBytes]);
  const Ipp8u* src[3] = {picture.planes[0], picture.planes[1], picture.planes[2]};
  int steps[3] = {picture.strides[0], picture.strides[1], picture.strides[2]};
  const IppiSize roi = {width, height};
  auto* out16 = reinterpret_cast<Ipp16u*>(out.get());
  const IppStatus status =
      form == 0   ? w7_ippiYCbCr420ToBGR_8u_P3C4R(src, steps, out.get(), outStride, roi, alpha)
      : form == 1 ? w7_ippiYCbCr420ToBGR_8u_P3C3R(src, steps, out.get(), outStride, roi)
                  : w7_ippiYCbCr420ToBGR555_8u16u_P3C3R(src, steps, out16, outStride, roi);
  KWZ_FUZZ_CHECK(status == ippStsNoErr);

  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double luma =
          1.164 * (frame.data[0][static_cast<std::size_t>(y) * frame.linesize[0] + x] - 16);
      const int cb = chromaAt(1, x, y) - 128;
      const int cr = chromaAt(2, x, y) - 128;
      const int r = Clamp(luma + 1.596 * cr);
      const int g = Clamp(luma - 0.813 * cr - 0.392 * cb);
      const int b = Clamp(luma + 2.017 * cb);
      const std::uint8_t* pixel =
          out.get() + static_cast<std::size_t>(y) * outStride + x * pixelBytes;
      if (form == 2) {
        const int packed = pixel[0] | (pixel[1] << 8);
        KWZ_FUZZ_CHECK((packed & 0x8000) == 0);
        KWZ_FUZZ_CHECK(std::abs((packed & 31) - (b >> 3)) <= 1);
        KWZ_FUZZ_CHECK(std::abs(((packed >> 5) & 31) - (g >> 3)) <= 1);
        KWZ_FUZZ_CHECK(std::abs(((packed >> 10) & 31) - (r >> 3)) <= 1);
        continue;
      }
      KWZ_FUZZ_CHECK(std::abs(pixel[0] - b) <= kTolerance);
      KWZ_FUZZ_CHECK(std::abs(pixel[1] - g) <= kTolerance);
      KWZ_FUZZ_CHECK(std::abs(pixel[2] - r) <= kTolerance);
      if (form == 0) KWZ_FUZZ_CHECK(pixel[3] == alpha);
    }
  }
  return 0;
}
