#include "bench/WebBenchStream.h"

#include "presenter/CScreenStreamer.h"
#include "presenter/RtpPacketizer.h"
#include "presenter/SyntheticDesktop.h"

namespace kwz_bench {

std::vector<std::vector<std::vector<std::uint8_t>>> H264Datagrams(int frames, int width, int height,
                                                                  int fps) {
  presenter::ScreenStreamSettings settings;
  settings.streamMode = 4;
  settings.frameRate = fps;
  presenter::CScreenStreamer streamer(settings);
  presenter::RtpPacketizer packetizer(presenter::RtpPacketizer::Options{});
  const SyntheticDesktop desktop(width, height);
  std::vector<std::uint8_t> screen(static_cast<std::size_t>(width) * height * 4);
  std::vector<std::vector<std::vector<std::uint8_t>>> out;
  for (int n = 0; n < frames; ++n) {
    desktop.Render(static_cast<std::uint32_t>(n), screen.data(), width * 4);
    presenter::ScreenFrame frame;
    frame.screen = presenter::BgraView{screen.data(), width, height, width * 4};
    std::vector<std::vector<std::uint8_t>> datagrams;
    streamer.AddFrame(frame, [&](const std::uint8_t* message, std::size_t length) {
      packetizer.Packetize(message, length, static_cast<std::uint32_t>(n) * 9000,
                           [&](const std::uint8_t* datagram, std::size_t size) {
                             datagrams.emplace_back(datagram, datagram + size);
                           });
    });
    if (!datagrams.empty()) out.push_back(std::move(datagrams));
  }
  return out;
}

}  // namespace kwz_bench
