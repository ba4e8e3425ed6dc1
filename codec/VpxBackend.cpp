#include "codec/VpxBackend.h"

#include <vpx/vp8dx.h>
#include <vpx/vpx_decoder.h>

#include <cstdlib>

#include "codec/CodecIds.h"
#include "codec/Vp9FrameSize.h"

namespace kwz_codec {

void VpxContextDeleter::operator()(vpx_codec_ctx* context) const {
  vpx_codec_destroy(context);
  delete context;
}

std::unique_ptr<IDecoderBackend> CreateVpxBackend(int codecId) {
  if (codecId != kCodecVp8 && codecId != kCodecVp9) return nullptr;
  return std::make_unique<VpxBackend>(codecId);
}

bool VpxBackend::Open(int width, int height) {
  m_width = static_cast<unsigned>(width);
  m_height = static_cast<unsigned>(std::abs(height));
  vpx_codec_iface_t* iface = m_codecId == kCodecVp8 ? vpx_codec_vp8_dx() : vpx_codec_vp9_dx();
  auto* context = new vpx_codec_ctx_t{};
  // Post-processing and error concealment where the decoder offers them (VP8); a decoder that
  // cannot (VP9) is initialised plainly instead.
  vpx_codec_err_t result = vpx_codec_dec_init(
      context, iface, nullptr, VPX_CODEC_USE_POSTPROC | VPX_CODEC_USE_ERROR_CONCEALMENT);
  if (result == VPX_CODEC_INCAPABLE) {
    *context = vpx_codec_ctx_t{};
    result = vpx_codec_dec_init(context, iface, nullptr, 0);
  }
  if (result != VPX_CODEC_OK) {
    delete context;  // a failed init leaves nothing to destroy
    return false;
  }
  m_context.reset(context);
  return true;
}

bool VpxBackend::Decode(const BYTE* data, int length, unsigned long deadlineUs,
                        YuvPicture* picture) {
  if (!m_context || length <= 0) return false;
  // A frame header may announce up to 16383 x 16383 pixels (VP8, key frames only) or
  // 65536 x 65536 (VP9, any frame), and libvpx allocates and clears buffers of that size
  // before it decodes a byte; such a picture could never be shown, so its size is reported from
  // the header alone.
  unsigned statedWidth = 0, statedHeight = 0;
  if (m_codecId == kCodecVp9) {
    const Vp9Size stated = Vp9LargestStatedSize(data, static_cast<std::size_t>(length));
    statedWidth = stated.width;
    statedHeight = stated.height;
  } else {
    vpx_codec_stream_info_t info = {};
    info.sz = sizeof(info);
    if (vpx_codec_peek_stream_info(vpx_codec_vp8_dx(), data, static_cast<unsigned>(length),
                                   &info) == VPX_CODEC_OK) {
      statedWidth = info.w;
      statedHeight = info.h;
    }
  }
  if (statedWidth > m_width || statedHeight > m_height) {
    *picture = YuvPicture{};
    picture->width = static_cast<int>(statedWidth);
    picture->height = static_cast<int>(statedHeight);
    return true;
  }
  if (vpx_codec_decode(m_context.get(), data, static_cast<unsigned>(length), nullptr,
                       static_cast<long>(deadlineUs)) != VPX_CODEC_OK) {
    return false;
  }
  vpx_codec_iter_t iterator = nullptr;
  const vpx_image_t* image = vpx_codec_get_frame(m_context.get(), &iterator);
  if (image == nullptr) return false;
  // Only 8-bit 4:2:0 converts; other VP9 profiles are dropped.
  if (image->fmt != VPX_IMG_FMT_I420 || image->bit_depth != 8) return false;
  for (int c = 0; c < 3; ++c) {
    if (image->planes[c] == nullptr || image->stride[c] <= 0) return false;
    picture->planes[c] = image->planes[c];
    picture->strides[c] = image->stride[c];
  }
  picture->width = static_cast<int>(image->d_w);
  picture->height = static_cast<int>(image->d_h);
  return true;
}

}  // namespace kwz_codec
