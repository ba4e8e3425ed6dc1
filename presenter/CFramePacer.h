// Paces the sending loop at a frame rate on the multimedia clock. A loop that falls behind
// drops the frames it missed instead of sending them late in a burst.
//
// Used by the sending loop's thread only.
#pragma once

#include <cstdint>

namespace presenter {

class CFramePacer {
 public:
  // frameRate 1 to 1000; starts the clock.
  explicit CFramePacer(int frameRate);

  // Sleeps until the next frame is due and returns how many frame slots passed unused since the
  // previous call (0 when the loop kept its pace).
  std::uint32_t WaitForNextFrame();
  // Milliseconds since construction.
  std::uint32_t ElapsedMs() const;

 private:
  std::uint32_t DueMs(std::uint64_t frame) const;

  int m_frameRate;
  std::uint32_t m_startMs;
  std::uint64_t m_next = 0;  // the frame whose slot comes next
};

}  // namespace presenter
