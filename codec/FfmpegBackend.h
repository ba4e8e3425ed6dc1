// The FFmpeg (libavcodec) decoders behind CVideoDecoder: MPEG-4 Part 2 (identifier 2), Motion
// JPEG (identifier 9) and, in builds that choose it over OpenH264, H.264 (identifier 4, one
// Annex-B access unit per packet). Internal to codec/; used on the decoding thread only. The caller
// holds the avcodec mutex around Open and around destruction.
#pragma once

#include <memory>
#include <vector>

#include "codec/DecoderBackend.h"
#include "codec/FfmpegHandles.h"
#include "codec/Planar420.h"

namespace kwz_codec {

class FfmpegBackend final : public IDecoderBackend {
 public:
  explicit FfmpegBackend(int codecId) : m_codecId(codecId) {}

  bool Open(int width, int height) override;
  bool Decode(const BYTE* data, int length, unsigned long deadlineUs, YuvPicture* picture) override;
  bool UsesAvcodec() const override { return true; }

 private:
  // Copies the packet into m_padded with the zero padding that FFmpeg's bit readers may read.
  bool SendPacket(const BYTE* data, int length);
  // Takes every picture the decoder has ready, keeping the newest in m_frame.
  bool ReceiveNewest();

  const int m_codecId;
  AvCodecContextPtr m_context;
  AvFramePtr m_frame;    // the picture handed out
  AvFramePtr m_pending;  // where the next picture is received
  AvPacketPtr m_packet;
  std::vector<BYTE> m_padded;  // reused; grows to the largest packet seen
  Planar420 m_planar;          // JPEG pictures in other chroma layouts
  bool m_awaitKey = true;      // H.264: nothing is shown until a key frame decodes whole
};

}  // namespace kwz_codec
