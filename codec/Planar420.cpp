#include "codec/Planar420.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace kwz_codec {

bool Planar420::View(const AVFrame& frame, YuvPicture* picture) {
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
  if (desc == nullptr || frame.width <= 0 || frame.height <= 0) return false;
  const unsigned rejected = AV_PIX_FMT_FLAG_BE | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                            AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_FLOAT |
                            AV_PIX_FMT_FLAG_BAYER;
  if ((desc->flags & rejected) != 0) return false;
  const bool grey = desc->nb_components == 1;
  if (!grey && desc->nb_components < 3) return false;
  const int components = grey ? 1 : 3;
  for (int c = 0; c < components; ++c) {
    const AVComponentDescriptor& comp = desc->comp[c];
    // One byte per sample, each component in its own plane: Y, Cb, Cr in planes 0, 1, 2.
    if (comp.depth != 8 || comp.step != 1 || comp.shift != 0 || comp.offset != 0 ||
        comp.plane != c) {
      return false;
    }
    if (frame.data[c] == nullptr || frame.linesize[c] <= 0) return false;
  }

  const int width = frame.width;
  const int height = frame.height;
  const int chromaWidth = (width + 1) / 2;
  const int chromaHeight = (height + 1) / 2;
  if (frame.linesize[0] < width) return false;
  picture->planes[0] = frame.data[0];
  picture->strides[0] = frame.linesize[0];
  picture->width = width;
  picture->height = height;

  const int log2w = desc->log2_chroma_w;
  const int log2h = desc->log2_chroma_h;
  if (!grey && log2w == 1 && log2h == 1) {
    if (frame.linesize[1] < chromaWidth || frame.linesize[2] < chromaWidth) return false;
    for (int c = 1; c < 3; ++c) {
      picture->planes[c] = frame.data[c];
      picture->strides[c] = frame.linesize[c];
    }
    return true;
  }

  const size_t planeBytes = static_cast<size_t>(chromaWidth) * chromaHeight;
  m_chroma.resize(2 * planeBytes);
  BYTE* out[2] = {m_chroma.data(), m_chroma.data() + planeBytes};
  if (grey) {
    std::memset(m_chroma.data(), 128, m_chroma.size());
  } else {
    // The source chroma plane's own size; each 4:2:0 sample takes the source sample that
    // covers its top-left pixel.
    const int sourceWidth = -((-width) >> log2w);
    const int sourceHeight = -((-height) >> log2h);
    if (frame.linesize[1] < sourceWidth || frame.linesize[2] < sourceWidth) return false;
    for (int c = 0; c < 2; ++c) {
      const BYTE* source = frame.data[c + 1];
      for (int y = 0; y < chromaHeight; ++y) {
        const int sy = std::min((2 * y) >> log2h, sourceHeight - 1);
        const BYTE* row = source + static_cast<ptrdiff_t>(sy) * frame.linesize[c + 1];
        BYTE* dst = out[c] + static_cast<size_t>(y) * chromaWidth;
        for (int x = 0; x < chromaWidth; ++x)
          dst[x] = row[std::min((2 * x) >> log2w, sourceWidth - 1)];
      }
    }
  }
  for (int c = 0; c < 2; ++c) {
    picture->planes[c + 1] = out[c];
    picture->strides[c + 1] = chromaWidth;
  }
  return true;
}

}  // namespace kwz_codec
