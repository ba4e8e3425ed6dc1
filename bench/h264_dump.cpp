// Writes the H.264 frames that kwz-present's synthetic desktop stream carries (the same
// streamer, size, rate and key-frame spacing) as an Annex-B byte stream, so that another
// receiver can be fed the same content through its own RTP packetiser. Used by bench/peer.sh.
//   h264_dump FILE [frames, default 300] [WIDTHxHEIGHT, default 1920x1080] [fps, default 10]
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "presenter/CScreenStreamer.h"
#include "presenter/SyntheticDesktop.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [frames] [WIDTHxHEIGHT] [fps]\n", argv[0]);
    return 2;
  }
  const int frames = argc > 2 ? std::atoi(argv[2]) : 300;
  int width = 1920, height = 1080;
  if (argc > 3 && std::sscanf(argv[3], "%dx%d", &width, &height) != 2) width = 0;
  const int fps = argc > 4 ? std::atoi(argv[4]) : 10;
  if (frames < 1 || width < 64 || height < 64 || width > presenter::kMaxScreenSide ||
      height > presenter::kMaxScreenSide || fps < 1 || fps > 60) {
    std::fprintf(stderr, "%s: bad frames, size or rate\n", argv[0]);
    return 2;
  }
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  presenter::ScreenStreamSettings settings;
  settings.streamMode = 4;
  settings.frameRate = fps;
  presenter::CScreenStreamer streamer(settings);
  const SyntheticDesktop desktop(width, height);
  std::vector<std::uint8_t> screen(static_cast<std::size_t>(width) * height * 4);
  int written = 0;
  for (int n = 0; n < frames; ++n) {
    desktop.Render(static_cast<std::uint32_t>(n), screen.data(), width * 4);
    presenter::ScreenFrame frame;
    frame.screen = presenter::BgraView{screen.data(), width, height, width * 4};
    streamer.AddFrame(frame, [&](const std::uint8_t* message, std::size_t length) {
      if (length <= presenter::kScreenHeaderSize) return;
      std::fwrite(message + presenter::kScreenHeaderSize, 1, length - presenter::kScreenHeaderSize,
                  out);
      ++written;
    });
  }
  const bool ok = std::fclose(out) == 0;
  std::fprintf(stderr, "%s: %d frames written\n", argv[1], written);
  return ok && written == frames ? 0 : 1;
}
