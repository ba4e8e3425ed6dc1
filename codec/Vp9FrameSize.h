// The frame sizes a VP9 packet announces, read from the uncompressed headers of its frames
// before libvpx sees them. Any VP9 frame, not only a key frame, may give a size of its own up to
// 65536 x 65536, and libvpx allocates and clears buffers of that size before it decodes a byte.
// Pure function of the bytes; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kwz_codec {

struct Vp9Size {
  unsigned width = 0;
  unsigned height = 0;
};

// The largest width and the largest height that the frames of the packet (one frame, or the
// frames of a superframe) state explicitly: key frames, intra-only frames and inter frames that
// do not take their size from a reference. Zero where no frame states one or a header is cut
// short (libvpx then refuses the packet itself).
Vp9Size Vp9LargestStatedSize(const std::uint8_t* data, std::size_t length);

}  // namespace kwz_codec
