// The libvpx decoders behind CVideoDecoder: VP8 (identifier 6) and VP9 (identifier 7).
// Internal to codec/; used on the decoding thread only. The key-frame gate and the marker
// words are the wrapper's; this sees coded frames only.
#pragma once

#include <memory>

#include "codec/DecoderBackend.h"

struct vpx_codec_ctx;

namespace kwz_codec {

struct VpxContextDeleter {
  void operator()(vpx_codec_ctx* context) const;  // destroys, then frees the record
};

class VpxBackend final : public IDecoderBackend {
 public:
  explicit VpxBackend(int codecId) : m_codecId(codecId) {}

  bool Open(int width, int height) override;
  bool Decode(const BYTE* data, int length, unsigned long deadlineUs, YuvPicture* picture) override;
  bool UsesAvcodec() const override { return false; }

 private:
  const int m_codecId;
  unsigned m_width = 0;
  unsigned m_height = 0;
  std::unique_ptr<vpx_codec_ctx, VpxContextDeleter> m_context;
};

}  // namespace kwz_codec
