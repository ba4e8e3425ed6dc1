#include "presenter/CFrameEncoderBase.h"

CFrameEncoderBase::CFrameEncoderBase(const FrameEncoderSettings& settings)
    : m_settings(settings), m_picture(settings.width, settings.height) {}

bool CFrameEncoderBase::Encode(const uint8_t* bgra, int strideBytes, bool forceKeyFrame,
                               std::vector<uint8_t>* out) {
  m_lastAttempts = 0;
  if (out == nullptr) return false;
  out->clear();
  if (!m_picture.ConvertFromBgra(bgra, strideBytes)) return false;

  bool keyFrame = forceKeyFrame || m_keyFrameDue;
  // A key frame the caller asks for starts at the finest step again: the screen may have become
  // easier to code. A key frame that only repairs the stream after a drop starts where the
  // last one ended, rather than repeating tries that are known not to fit.
  int level = forceKeyFrame ? 0 : m_keyLevel;
  while (true) {
    bool isKey = false;
    ++m_lastAttempts;
    if (!EncodePicture(m_picture, keyFrame, level, out, &isKey)) {
      // The codec may have half-updated its references: start again from a key frame.
      m_keyFrameDue = true;
      out->clear();
      return false;
    }
    if (out->empty()) return false;  // dropped by the rate control; both sides still agree
    if (out->size() <= m_settings.maxFrameBytes) {
      m_keyFrameDue = false;
      m_lastWasKey = isKey;
      if (isKey) m_keyLevel = level;
      return true;
    }
    out->clear();
    // The encoder now references a frame that no receiver gets, so only a key frame may follow.
    m_keyFrameDue = true;
    if (level >= CoarseLevels()) {
      m_keyLevel = level;
      return false;
    }
    keyFrame = true;
    ++level;
  }
}
