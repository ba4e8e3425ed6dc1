// H.264 frames from OpenH264, tuned for screen content. Each frame is one complete Annex-B
// access unit (every NAL of every layer with its start code; a key frame opens with its SPS and
// PPS), which is what a receiver's DecodeFrameNoDelay decodes in one call.
#pragma once

#include <memory>

#include "presenter/CFrameEncoderBase.h"

class ISVCEncoder;
struct TagEncParamExt;

class CH264FrameEncoder : public CFrameEncoderBase {
 public:
  // Raises exc_frame_encoder when OpenH264 refuses the settings.
  explicit CH264FrameEncoder(const FrameEncoderSettings& settings);
  ~CH264FrameEncoder() override;

 protected:
  bool EncodePicture(const CI420Picture& picture, bool keyFrame, int coarseLevel,
                     std::vector<uint8_t>* out, bool* isKeyFrame) override;
  int CoarseLevels() const override;

 private:
  struct EncoderDeleter {
    void operator()(ISVCEncoder* encoder) const;
  };
  // (Re)starts the encoder with the quantiser floor of the level; its next frame is a key frame.
  bool Start(int coarseLevel);

  std::unique_ptr<ISVCEncoder, EncoderDeleter> m_encoder;
  std::unique_ptr<TagEncParamExt> m_param;
  bool m_started = false;
  int m_level = 0;
  unsigned long long m_frameIndex = 0;
};
