// Decoding screen frames into 32-bit BGRA at 1920x1080 through CVideoDecoder, against the
// bare library decode followed by libyuv's I420ToARGB on the same frames in the same run.
// Each line reports the wrapper's time per frame, the baseline's (baseline_us) and their ratio,
// all in processor time of this single-threaded process, so that other work on a shared machine
// does not skew the ratio.
#include <benchmark/benchmark.h>
#include <libyuv/convert_argb.h>

#include <ctime>
#include <memory>
#include <vector>

#include "codec/CVideoDecoder.h"
#include "codec/DecoderBackend.h"
#include "platform/ipp.h"
#include "platform/winerror.h"
#include "tests/codec/TestEncoders.h"

namespace {

using kwz_test::CodedFrame;
using kwz_test::TestCodec;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 10;

double CpuMicros() {
  return static_cast<double>(std::clock()) * 1e6 / CLOCKS_PER_SEC;
}

const std::vector<CodedFrame>& Stream(TestCodec codec) {
  static std::vector<CodedFrame> streams[5];
  std::vector<CodedFrame>& stream = streams[static_cast<int>(codec)];
  if (stream.empty()) {
    std::vector<kwz_test::Image> frames;
    for (int i = 0; i < kFrames; ++i) frames.push_back(kwz_test::MakeScreen(kWidth, kHeight, i));
    stream = kwz_test::Encode(codec, frames);
  }
  return stream;
}

// Packets as the engine hands them over: VP8/VP9 behind their marker word, 4 spare bytes.
std::vector<std::vector<BYTE>> Packets(TestCodec codec) {
  std::vector<std::vector<BYTE>> packets;
  for (const CodedFrame& frame : Stream(codec)) {
    std::vector<BYTE> p = codec == TestCodec::kVp8 || codec == TestCodec::kVp9
                              ? kwz_test::WithVpxMarker(frame)
                              : frame.data;
    p.resize(p.size() + 4);
    packets.push_back(std::move(p));
  }
  return packets;
}

// The bare library decode (the backend makes exactly the library's calls) and libyuv.
class Baseline {
 public:
  explicit Baseline(TestCodec codec) : stream_(Stream(codec)) {
    const int id = kwz_test::CodecIdOf(codec);
    if (id == kwz_codec::kCodecH264) {
      backend_ = kwz_codec::CreateH264Backend();
    } else if (id == kwz_codec::kCodecVp8 || id == kwz_codec::kCodecVp9) {
      backend_ = kwz_codec::CreateVpxBackend(id);
    } else {
      backend_ = kwz_codec::CreateFfmpegBackend(id);
    }
    backend_->Open(kWidth, kHeight);
  }

  // Processor time of one pass over the stream.
  double Pass(std::vector<BYTE>& out) {
    const double start = CpuMicros();
    for (const CodedFrame& frame : stream_) {
      kwz_codec::YuvPicture picture;
      if (!backend_->Decode(frame.data.data(), static_cast<int>(frame.data.size()), 0, &picture)) {
        continue;
      }
      libyuv::I420ToARGB(picture.planes[0], picture.strides[0], picture.planes[1],
                         picture.strides[1], picture.planes[2], picture.strides[2], out.data(),
                         kWidth * 4, kWidth, kHeight);
      benchmark::DoNotOptimize(out.data());
    }
    return CpuMicros() - start;
  }

 private:
  const std::vector<CodedFrame>& stream_;
  std::unique_ptr<kwz_codec::IDecoderBackend> backend_;
};

// Each iteration decodes the stream through the wrapper and then bare, so that both see the
// same load on a shared machine.
void BM_DecodeToBgra(benchmark::State& state, TestCodec codec) {
  std::vector<std::vector<BYTE>> packets = Packets(codec);
  std::vector<BYTE> out(static_cast<size_t>(kWidth) * kHeight * 4);
  Baseline baseline(codec);

  CVideoDecoder decoder;
  BITMAPINFOHEADER header = {};
  header.biWidth = kWidth;
  header.biHeight = kHeight;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  decoder.SetOutputFormat(&header);
  decoder.SetFlipRGB32(false);
  decoder.SetFrameRate(30);
  decoder.SetCodecId(kwz_test::CodecIdOf(codec));
  if (decoder.Open() != S_OK) {
    state.SkipWithError("Open failed");
    return;
  }
  size_t decoded = 0;
  double wrapperMicros = 0, baselineMicros = 0;
  for (auto _ : state) {
    // The whole stream each iteration; it starts with a key frame, so references are rebuilt.
    const double start = CpuMicros();
    for (std::vector<BYTE>& p : packets) {
      DWORD bytes = 0;
      bool changed = false;
      decoded += decoder.Decode(p.data(), static_cast<int>(p.size() - 4), out.data(), &bytes,
                                &changed) == S_OK;
    }
    wrapperMicros += CpuMicros() - start;
    baselineMicros += baseline.Pass(out);
  }
  if (decoded != packets.size() * state.iterations()) state.SkipWithError("a frame failed");
  const double perFrame = wrapperMicros / static_cast<double>(decoded);
  const double baselinePerFrame = baselineMicros / static_cast<double>(decoded);
  state.counters["us_per_frame"] = perFrame;
  state.counters["baseline_us"] = baselinePerFrame;
  state.counters["ratio"] = perFrame / baselinePerFrame;
}

// The studio-range conversion alone, against libyuv's I420ToARGB on the same planes.
void BM_ConvertToBgra(benchmark::State& state) {
  std::vector<BYTE> y(static_cast<size_t>(kWidth) * kHeight, 120);
  std::vector<BYTE> u(y.size() / 4, 90), v(y.size() / 4, 160);
  for (size_t i = 0; i < y.size(); ++i) y[i] = static_cast<BYTE>(i * 7);
  std::vector<BYTE> out(y.size() * 4);
  const Ipp8u* planes[3] = {y.data(), u.data(), v.data()};
  int steps[3] = {kWidth, kWidth / 2, kWidth / 2};
  const int rounds = 20;
  const auto start = CpuMicros();
  for (int r = 0; r < rounds; ++r) {
    libyuv::I420ToARGB(y.data(), kWidth, u.data(), kWidth / 2, v.data(), kWidth / 2, out.data(),
                       kWidth * 4, kWidth, kHeight);
    benchmark::DoNotOptimize(out.data());
  }
  const double baseline = (CpuMicros() - start) / rounds;
  const auto measured = CpuMicros();
  for (auto _ : state) {
    w7_ippiYCbCr420ToBGR_8u_P3C4R(planes, steps, out.data(), kWidth * 4, {kWidth, kHeight}, 0);
    benchmark::DoNotOptimize(out.data());
  }
  const double perFrame = (CpuMicros() - measured) / static_cast<double>(state.iterations());
  state.counters["us_per_frame"] = perFrame;
  state.counters["baseline_us"] = baseline;
  state.counters["ratio"] = perFrame / baseline;
}

}  // namespace

BENCHMARK_CAPTURE(BM_DecodeToBgra, Mpeg4, TestCodec::kMpeg4)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeToBgra, H264, TestCodec::kH264)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeToBgra, Vp8, TestCodec::kVp8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeToBgra, Vp9, TestCodec::kVp9)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertToBgra)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
