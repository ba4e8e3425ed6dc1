// Writes decoder_fuzzer's seed corpus from the product's own encoders: short clips of the
// synthetic desktop (a key frame, inter frames, a scene change) from the presenter's frame
// encoders, and JPEG blocks from the block encoder, at both of the fuzzer's picture sizes and
// in each output layout, framed as the fuzzer reads its input.
//
// usage: fuzz_corpus <folder>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "codec/CVideoEncoder.h"
#include "platform/winerror.h"
#include "presenter/IFrameEncoder.h"
#include "presenter/SyntheticDesktop.h"

namespace {

// The fuzzer's first byte: MPEG-4, H.264, VP8, VP9, JPEG; its second: bits 0-1 the layout
// (32, 24, 16 bits), bit 2 flip RGB32, bit 3 the 320x240 picture instead of 64x48.
constexpr int kSelectors = 5;
constexpr int kStreamModes[] = {3, 4, 5, 6};
constexpr uint32_t kClip[] = {0, 1, 2, SyntheticDesktop::kFramesPerScene};

// The desktop is at least 64 pixels high; smaller pictures are its top rows.
std::vector<uint8_t> Picture(int width, int height, uint32_t frame) {
  SyntheticDesktop desktop(width, std::max(height, 64));
  std::vector<uint8_t> bgra = desktop.Render(frame);
  bgra.resize(static_cast<size_t>(width) * height * 4);
  return bgra;
}

std::vector<std::vector<uint8_t>> FrameClip(int streamMode, int width, int height) {
  FrameEncoderSettings settings;
  settings.width = width;
  settings.height = height;
  std::unique_ptr<IFrameEncoder> encoder = CreateFrameEncoder(streamMode, settings);
  std::vector<std::vector<uint8_t>> clip;
  for (uint32_t frame : kClip) {
    std::vector<uint8_t> body;
    const std::vector<uint8_t> bgra = Picture(width, height, frame);
    if (encoder->Encode(bgra.data(), width * 4, false, &body)) clip.push_back(std::move(body));
  }
  return clip;
}

std::vector<std::vector<uint8_t>> JpegClip(int width, int height) {
  CVideoEncoder encoder;
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof(header);
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  std::vector<std::vector<uint8_t>> clip;
  if (encoder.SetInputFormat(&header) != S_OK) return clip;
  encoder.SetQuality(50);
  if (encoder.Open() != S_OK) return clip;
  for (uint32_t frame : kClip) {
    const std::vector<uint8_t> bgra = Picture(width, height, frame);
    std::vector<uint8_t> jpeg(65535);
    DWORD bytes = 0;
    if (encoder.Encode(bgra.data(), width * 4, jpeg.data(), static_cast<DWORD>(jpeg.size()),
                       &bytes) == S_OK) {
      jpeg.resize(bytes);
      clip.push_back(std::move(jpeg));
    }
  }
  return clip;
}

bool WriteSeed(const std::string& path, uint8_t selector, uint8_t output,
               const std::vector<std::vector<uint8_t>>& clip) {
  std::vector<uint8_t> seed = {selector, output};
  for (const std::vector<uint8_t>& packet : clip) {
    if (packet.size() > 0xFFFF) continue;
    seed.push_back(static_cast<uint8_t>(packet.size()));
    seed.push_back(static_cast<uint8_t>(packet.size() >> 8));
    seed.insert(seed.end(), packet.begin(), packet.end());
  }
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(seed.data(), 1, seed.size(), file) == seed.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  int seeds = 0;
  for (int selector = 0; selector < kSelectors; ++selector) {
    for (const bool large : {false, true}) {
      const int width = large ? 320 : 64;
      const int height = large ? 240 : 48;
      const std::vector<std::vector<uint8_t>> clip =
          selector < 4 ? FrameClip(kStreamModes[selector], width, height) : JpegClip(width, height);
      if (clip.empty()) {
        std::fprintf(stderr, "no frames for selector %d at %dx%d\n", selector, width, height);
        return 1;
      }
      // 32 bits flipped, 24 bits, 16 bits.
      for (const uint8_t layout : {0x4, 0x1, 0x2}) {
        const uint8_t output = static_cast<uint8_t>(layout | (large ? 0x8 : 0));
        const std::string path =
            folder + "/seed_" + std::to_string(selector) + "_" + std::to_string(output);
        if (!WriteSeed(path, static_cast<uint8_t>(selector), output, clip)) {
          std::fprintf(stderr, "cannot write %s\n", path.c_str());
          return 1;
        }
        ++seeds;
      }
    }
  }
  std::printf("%d seeds in %s\n", seeds, folder.c_str());
  return 0;
}
