// The presenter's 1080p H.264 stream of the synthetic desktop, coded once and cut into RTP
// datagrams ahead of a benchmark, so that coding costs nothing while the gateway is measured.
// Apart from the benchmark because the presenter's headers and the POSIX socket headers that
// its WebSocket clients need cannot share a translation unit.
#pragma once

#include <cstdint>
#include <vector>

namespace kwz_bench {

// frames frames of width x height, mode 4, at fps; each frame is its datagrams in order.
std::vector<std::vector<std::vector<std::uint8_t>>> H264Datagrams(int frames, int width, int height,
                                                                  int fps);

}  // namespace kwz_bench
