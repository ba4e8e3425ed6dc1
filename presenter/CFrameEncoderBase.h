// What every whole-frame encoder shares: the BGRA conversion and the loop that keeps each coded
// frame within the message cap. A codec supplies EncodePicture for one try at a given coarseness.
#pragma once

#include <cstdint>
#include <vector>

#include "presenter/CI420Picture.h"
#include "presenter/IFrameEncoder.h"

class CFrameEncoderBase : public IFrameEncoder {
 public:
  bool Encode(const uint8_t* bgra, int strideBytes, bool forceKeyFrame,
              std::vector<uint8_t>* out) final;
  bool LastFrameWasKey() const final { return m_lastWasKey; }
  int LastAttempts() const final { return m_lastAttempts; }
  const FrameEncoderSettings& Settings() const final { return m_settings; }

 protected:
  // Settings must be valid (the factory checks).
  explicit CFrameEncoderBase(const FrameEncoderSettings& settings);

  // One run of the codec over the picture. coarseLevel picks a step of the codec's quantiser
  // ladder: 0 lets the rate control choose up to a ceiling that keeps text sharp; 1 to
  // CoarseLevels() code a key frame at ever coarser quantisers. Inter frames are asked for at the
  // level of the key frame they follow and are coded no coarser than it (finer where the codec
  // lets its rate control refine them), so a screen that needed a coarse key frame does not
  // overflow the cap with every inter frame. Appends the whole frame to *out (empty when the codec
  // dropped it) and tells whether it is a key frame. False on a codec failure.
  virtual bool EncodePicture(const CI420Picture& picture, bool keyFrame, int coarseLevel,
                             std::vector<uint8_t>* out, bool* isKeyFrame) = 0;
  virtual int CoarseLevels() const = 0;

 private:
  FrameEncoderSettings m_settings;
  CI420Picture m_picture;
  // Set when the receiver's reference differs from the encoder's: a frame was coded and dropped.
  bool m_keyFrameDue = false;
  // The ladder step of the last key frame sent, or of the last one tried when none fitted.
  int m_keyLevel = 0;
  bool m_lastWasKey = false;
  int m_lastAttempts = 0;
};
