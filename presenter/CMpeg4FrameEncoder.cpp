#include "presenter/CMpeg4FrameEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

void CMpeg4FrameEncoder::ContextDeleter::operator()(AVCodecContext* context) const {
  avcodec_free_context(&context);
}
void CMpeg4FrameEncoder::FrameDeleter::operator()(AVFrame* frame) const {
  av_frame_free(&frame);
}
void CMpeg4FrameEncoder::PacketDeleter::operator()(AVPacket* packet) const {
  av_packet_free(&packet);
}

CMpeg4FrameEncoder::CMpeg4FrameEncoder(const FrameEncoderSettings& settings)
    : CFrameEncoderBase(settings), m_frame(av_frame_alloc()), m_packet(av_packet_alloc()) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  if (codec == nullptr || !m_frame || !m_packet)
    throw exc_frame_encoder(u"CMpeg4FrameEncoder.cpp", __LINE__, u"No FFmpeg mpeg4 encoder.", 0);
  const int64_t bitRate = int64_t{settings.EffectiveBitRateKbps()} * 1000;
  const int bufferBits = static_cast<int>(settings.maxFrameBytes * 8);

  m_avcodecLock.Lock();
  m_context.reset(avcodec_alloc_context3(codec));
  bool opened = false;
  if (m_context) {
    AVCodecContext* c = m_context.get();
    c->codec_type = AVMEDIA_TYPE_VIDEO;
    c->width = settings.width;
    c->height = settings.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = {1, settings.frameRate};
    c->framerate = {settings.frameRate, 1};
    c->bit_rate = bitRate;
    // No frame may exceed the VBV buffer, so the buffer is the cap; a full buffer refilled at
    // twice the average rate lets a key frame use all of it.
    c->rc_buffer_size = bufferBits;
    c->rc_initial_buffer_occupancy = bufferBits;
    c->rc_max_rate = bitRate * 2;
    c->rc_max_available_vbv_use = 1.0f;
    c->qmin = 2;
    c->qmax = 31;
    c->max_b_frames = 0;
    // Key frames when asked for (a viewer joins), after a frame was dropped, and every 600th
    // frame: the longest interval libavcodec's MPEG-4 encoder allows (it cuts longer ones to
    // that, with a warning on stderr).
    c->gop_size = 600;
    c->thread_count = 1;
    opened = avcodec_open2(c, codec, nullptr) >= 0;
  }
  if (!opened) m_context.reset();
  m_avcodecLock.Unlock();
  if (!opened)
    throw exc_frame_encoder(u"CMpeg4FrameEncoder.cpp", __LINE__,
                            u"FFmpeg refused the mpeg4 encoder settings.", 0);

  m_frame->format = AV_PIX_FMT_YUV420P;
  m_frame->width = settings.width;
  m_frame->height = settings.height;
}

CMpeg4FrameEncoder::~CMpeg4FrameEncoder() {
  CloseContext();
}

void CMpeg4FrameEncoder::CloseContext() {
  m_avcodecLock.Lock();
  m_context.reset();
  m_avcodecLock.Unlock();
}

bool CMpeg4FrameEncoder::EncodePicture(const CI420Picture& picture, bool keyFrame, int,
                                       std::vector<uint8_t>* out, bool* isKeyFrame) {
  AVFrame* frame = m_frame.get();
  // The frame borrows the picture's planes; FFmpeg copies what it keeps.
  frame->data[0] = const_cast<uint8_t*>(picture.Y());
  frame->data[1] = const_cast<uint8_t*>(picture.U());
  frame->data[2] = const_cast<uint8_t*>(picture.V());
  frame->linesize[0] = picture.StrideY();
  frame->linesize[1] = frame->linesize[2] = picture.StrideUV();
  frame->pts = m_pts++;
  frame->pict_type = keyFrame ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  frame->key_frame = keyFrame ? 1 : 0;

  if (avcodec_send_frame(m_context.get(), frame) < 0) return false;
  // Without B-frames or threads every frame comes straight back as one packet.
  int result = avcodec_receive_packet(m_context.get(), m_packet.get());
  if (result == AVERROR(EAGAIN)) return true;
  if (result < 0) return false;
  out->assign(m_packet->data, m_packet->data + m_packet->size);
  *isKeyFrame = (m_packet->flags & AV_PKT_FLAG_KEY) != 0;
  av_packet_unref(m_packet.get());
  return true;
}
