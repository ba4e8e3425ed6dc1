// VP8 and VP9 frames from libvpx in real-time mode, tuned for screen content. Each frame body is
// a 4-byte little-endian marker word followed by the frame as libvpx codes it; receivers join a
// stream at the first body that opens with the key-frame marker.
#pragma once

#include <cstdint>
#include <memory>

#include "presenter/CFrameEncoderBase.h"

struct vpx_codec_ctx;
struct vpx_codec_enc_cfg;

inline constexpr uint32_t kVpxKeyFrameMarker = 0x10010000;    // bytes 00 00 01 10
inline constexpr uint32_t kVpxInterFrameMarker = 0xEFFEFFFF;  // bytes FF FF FE EF

class CVpxFrameEncoder : public CFrameEncoderBase {
 public:
  enum class Codec { kVp8, kVp9 };

  // Raises exc_frame_encoder when libvpx refuses the settings.
  CVpxFrameEncoder(Codec codec, const FrameEncoderSettings& settings);
  ~CVpxFrameEncoder() override;

 protected:
  bool EncodePicture(const CI420Picture& picture, bool keyFrame, int coarseLevel,
                     std::vector<uint8_t>* out, bool* isKeyFrame) override;
  int CoarseLevels() const override;

 private:
  struct ContextDeleter {
    void operator()(vpx_codec_ctx* context) const;
  };
  void Configure(Codec codec, const FrameEncoderSettings& settings);
  bool ApplyQuantizerRange(int coarseLevel, bool keyFrame);

  std::unique_ptr<vpx_codec_ctx, ContextDeleter> m_context;
  std::unique_ptr<vpx_codec_enc_cfg> m_config;
  unsigned m_normalMinQuantizer = 0;
  int64_t m_pts = 0;
};
