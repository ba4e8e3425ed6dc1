// MPEG-4 Part 2 frames from FFmpeg's mpeg4 encoder, planar YUV 4:2:0. The stream headers travel
// in band: every key frame opens with the visual object sequence, object and VOL headers, so a
// receiver can join at any key frame.
//
// The cap is kept by FFmpeg's own rate control: with a VBV buffer of the cap's size it codes a
// frame again at a coarser quantiser, up to the coarsest (31), whenever it would overflow. A
// frame that still does not fit is dropped and a key frame follows.
#pragma once

#include <memory>

#include "presenter/CFrameEncoderBase.h"
#include "runtime/CKWZ_AVCodec_MutexAutoLock.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

class CMpeg4FrameEncoder : public CFrameEncoderBase {
 public:
  // Raises exc_frame_encoder when FFmpeg has no mpeg4 encoder or refuses the settings. Opening
  // and closing hold the codec mutex.
  explicit CMpeg4FrameEncoder(const FrameEncoderSettings& settings);
  ~CMpeg4FrameEncoder() override;

 protected:
  bool EncodePicture(const CI420Picture& picture, bool keyFrame, int coarseLevel,
                     std::vector<uint8_t>* out, bool* isKeyFrame) override;
  int CoarseLevels() const override { return 0; }

 private:
  struct ContextDeleter {
    void operator()(AVCodecContext* context) const;
  };
  struct FrameDeleter {
    void operator()(AVFrame* frame) const;
  };
  struct PacketDeleter {
    void operator()(AVPacket* packet) const;
  };
  void CloseContext();

  CKWZ_AVCodec_MutexAutoLock m_avcodecLock;
  std::unique_ptr<AVCodecContext, ContextDeleter> m_context;
  std::unique_ptr<AVFrame, FrameDeleter> m_frame;
  std::unique_ptr<AVPacket, PacketDeleter> m_packet;
  int64_t m_pts = 0;
};
