// Re-codes a video stream that a browser cannot decode (MPEG-4 Part 2 always; H.264, VP8 or VP9
// where the browser says so) as 32-bit zlib blocks: each frame is decoded by the receiver's own
// surface, exactly as a viewer would show it, and only the blocks that changed since the last
// picture are sent, so an idle screen costs nothing after its first picture.
//
// Used on the gateway's receiving thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/CBMPManager.h"
#include "presenter/CBlockCoder.h"
#include "presenter/CPaddedPicture.h"
#include "web/BrowserFrame.h"

namespace kwz_web {

class VideoToBlocks {
 public:
  VideoToBlocks();
  ~VideoToBlocks();
  VideoToBlocks(const VideoToBlocks&) = delete;
  VideoToBlocks& operator=(const VideoToBlocks&) = delete;

  // Decodes one video frame and appends the block messages for what changed (every block
  // after a reset or a change of size); a frame that changed nothing but the cursor gives one
  // geometry message, and a frame that did not decode gives nothing.
  void Decode(const BrowserFrame& frame, std::vector<BrowserFramePtr>* out);
  // Forgets the decoder's state and the last picture: the next picture is sent whole.
  void Reset();

 private:
  // The picture the surface shows, top row first, 32 bits a pixel, into m_upright.
  bool ReadSurface(int width, int height);

  std::unique_ptr<CBMPManager> m_surface;
  std::unique_ptr<presenter::CBlockCoder> m_coder;
  std::vector<std::uint8_t> m_body;     // the frame's body with room behind it for the decoder
  std::vector<std::uint8_t> m_upright;  // width × height × 4
  presenter::CPaddedPicture m_picture;
  presenter::CPaddedPicture m_previous;
  bool m_havePrevious = false;
  std::uint16_t m_cursorX = 0;
  std::uint16_t m_cursorY = 0;
};

}  // namespace kwz_web
