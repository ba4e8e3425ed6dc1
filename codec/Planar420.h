// Presents an FFmpeg picture of any 8-bit planar YCbCr layout (4:2:0, 4:2:2, 4:4:0, 4:4:4,
// 4:1:1, grey) as 4:2:0 planes, so a JPEG block coded with other chroma sampling converts
// without reading outside its planes. Internal to codec/; called on the decoding thread.
#pragma once

#include <vector>

#include "codec/DecoderBackend.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace kwz_codec {

class Planar420 {
 public:
  // Fills picture from frame: 4:2:0 planes are used in place; other layouts are resampled
  // (nearest sample) into this object's chroma buffers, which stay valid until the next call.
  // False for layouts that are not 8-bit planar YCbCr or grey.
  bool View(const AVFrame& frame, YuvPicture* picture);

 private:
  std::vector<BYTE> m_chroma;  // Cb then Cr, (width+1)/2 by (height+1)/2 each
};

}  // namespace kwz_codec
