// The OpenH264 decoder behind CVideoDecoder (identifier 4). Internal to codec/; used on the
// decoding thread only.
#pragma once

#include <memory>

#include "codec/DecoderBackend.h"

class ISVCDecoder;

namespace kwz_codec {

struct OpenH264Deleter {
  void operator()(ISVCDecoder* decoder) const;  // uninitialises, then destroys
};
struct IppBufferDeleter {
  void operator()(BYTE* buffer) const;
};

class OpenH264Backend final : public IDecoderBackend {
 public:
  bool Open(int width, int height) override;
  // The packet is one access unit in Annex-B byte-stream form.
  bool Decode(const BYTE* data, int length, unsigned long deadlineUs, YuvPicture* picture) override;
  bool UsesAvcodec() const override { return false; }

 private:
  std::unique_ptr<ISVCDecoder, OpenH264Deleter> m_decoder;
  // width × height × 2 bytes: where the plane pointers point before a decode, so that a
  // library that reports a picture without setting them still points into owned memory.
  std::unique_ptr<BYTE, IppBufferDeleter> m_scratch;
  size_t m_lumaBytes = 0;
};

}  // namespace kwz_codec
