// Whether a coded video frame is one a decoder can start from. The gateway keeps the last such
// frame and what followed it for browsers that join mid-stream, and tells each browser which
// frames they are, so that a page never feeds its decoder a frame that depends on one it lacks.
// Pure functions of the bytes; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kwz_web {

// streamMode 3 (MPEG-4 Part 2: an intra-coded VOP), 4 (H.264: an IDR slice), 5 (VP8: a key
// frame with its start code) or 6 (VP9: a key frame of profile 0 to 3). False for any other
// mode and for bytes too short to tell. A VP8 or VP9 body that starts with the 4-byte word
// marking a key or an inter frame is what the word says.
bool IsKeyFrame(std::uint8_t streamMode, const std::uint8_t* body, std::size_t length);

}  // namespace kwz_web
