// How a presenter codes its screen: the stream mode, the pixel format the viewers rebuild, and
// the pace at which a viewer that joined late (or lost datagrams) is brought up to date.
#pragma once

#include <cstdint>

namespace presenter {

// The grid of the block modes; viewers are built for 100 x 100 blocks.
constexpr int kBlockWidth = 100;
constexpr int kBlockHeight = 100;
// The largest screen side a presenter codes: the frame encoders' limit, and far below what the
// 16-bit width, height and block index of a message can carry.
constexpr int kMaxScreenSide = 4096;

struct ScreenStreamSettings {
  int streamMode = 1;     // 0 geometry, 1 zlib blocks, 2 JPEG blocks, 3-6 video frames
  int bytesPerPixel = 4;  // 1 or 4 for modes 0 and 1, 4 for mode 2, 3 or 4 for modes 3 to 6
  int frameRate = 10;     // 1 to 60 frames per second
  // Video modes: the average bit rate in kbit/s (0: derived from the frame rate and the 64 KiB
  // frame cap). JPEG blocks: handed to the block encoder as its rate.
  int bitRateKbps = 0;
  // Every block (block modes) or a key frame (video modes) at least this many frames apart, so a
  // viewer that joined late or lost a message catches up. 0: only what changed, after the
  // first frame.
  int refreshFrames = 50;
  int zlibLevel = 6;    // 1 (fastest) to 9 (smallest)
  int jpegQuality = 0;  // 1 (smallest) to 100 (finest); 0: the block encoder's own

  // Null when the combination is usable; otherwise what is wrong, for the user.
  const char* Problem() const;
};

}  // namespace presenter
