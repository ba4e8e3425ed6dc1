#include "codec/FfmpegBackend.h"

#include <cstring>

#include "codec/CodecIds.h"

namespace kwz_codec {

namespace {

// No packet of a screen frame comes near this; anything larger is dropped rather than copied.
constexpr int kMaxPacketBytes = 64 << 20;

}  // namespace

std::unique_ptr<IDecoderBackend> CreateFfmpegBackend(int codecId) {
  if (codecId != kCodecMpeg4 && codecId != kCodecMjpeg && codecId != kCodecH264) return nullptr;
  return std::make_unique<FfmpegBackend>(codecId);
}

bool FfmpegBackend::Open(int width, int height) {
  const bool jpeg = m_codecId == kCodecMjpeg;
  const AVCodecID id = jpeg                      ? AV_CODEC_ID_MJPEG
                       : m_codecId == kCodecH264 ? AV_CODEC_ID_H264
                                                 : AV_CODEC_ID_MPEG4;
  const AVCodec* codec = avcodec_find_decoder(id);
  if (codec == nullptr) return false;
  AvCodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context) return false;
  context->codec_type = AVMEDIA_TYPE_VIDEO;
  context->width = width;
  context->height = height;
  context->pix_fmt = jpeg ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
  // A picture a stream announces cannot make the library allocate more than the largest side
  // the wrapper accepts.
  context->max_pixels = static_cast<int64_t>(kMaxPictureSide) * kMaxPictureSide;
  if (id == AV_CODEC_ID_H264) {
    // Each packet is one whole access unit shown at once: no reordering delay, and as with
    // OpenH264's concealment switched off, nothing is shown before a picture that decodes
    // from a key frame.
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    context->flags &= ~AV_CODEC_FLAG_OUTPUT_CORRUPT;
    context->flags2 &= ~AV_CODEC_FLAG2_SHOW_ALL;
  }
  // One thread: a screen frame is decoded on the engine's thread and nowhere else.
  context->thread_count = 1;
  if (avcodec_open2(context.get(), codec, nullptr) < 0) return false;
  AvFramePtr frame(av_frame_alloc());
  AvFramePtr pending(av_frame_alloc());
  AvPacketPtr packet(av_packet_alloc());
  if (!frame || !pending || !packet) return false;
  m_context = std::move(context);
  m_frame = std::move(frame);
  m_pending = std::move(pending);
  m_packet = std::move(packet);
  return true;
}

bool FfmpegBackend::SendPacket(const BYTE* data, int length) {
  if (length <= 0 || length > kMaxPacketBytes) return false;
  const size_t padded = static_cast<size_t>(length) + AV_INPUT_BUFFER_PADDING_SIZE;
  if (m_padded.size() < padded) m_padded.resize(padded);
  std::memcpy(m_padded.data(), data, static_cast<size_t>(length));
  std::memset(m_padded.data() + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  m_packet->data = m_padded.data();
  m_packet->size = length;
  int result = avcodec_send_packet(m_context.get(), m_packet.get());
  if (result == AVERROR(EAGAIN)) {
    // Pictures of earlier packets are still waiting: collect them, then offer this one again.
    ReceiveNewest();
    result = avcodec_send_packet(m_context.get(), m_packet.get());
  }
  m_packet->data = nullptr;
  m_packet->size = 0;
  return result >= 0;
}

bool FfmpegBackend::ReceiveNewest() {
  bool got = false;
  while (avcodec_receive_frame(m_context.get(), m_pending.get()) == 0) {
    av_frame_unref(m_frame.get());
    av_frame_move_ref(m_frame.get(), m_pending.get());
    got = true;
  }
  return got;
}

bool FfmpegBackend::Decode(const BYTE* data, int length, unsigned long /*deadlineUs*/,
                           YuvPicture* picture) {
  if (!m_context) return false;
  av_frame_unref(m_frame.get());
  const bool sent = SendPacket(data, length);
  // Drained even when the packet was refused, so an old picture never comes out with a later
  // packet.
  const bool got = ReceiveNewest();
  if (!sent || !got) {
    m_awaitKey = true;
    return false;
  }
  const AVFrame& frame = *m_frame;
  if (m_codecId == kCodecMjpeg) return m_planar.View(frame, picture);
  bool planar420 = frame.format == AV_PIX_FMT_YUV420P;
  if (m_codecId == kCodecH264) {
    // A damaged H.264 picture is dropped, never shown, and so is every picture that may refer
    // to it, up to the next key frame that decodes whole: FFmpeg would otherwise show them
    // built on its concealment. The range flag of the stream is ignored, as OpenH264 does.
    if ((frame.flags & AV_FRAME_FLAG_CORRUPT) != 0 || frame.decode_error_flags != 0) {
      m_awaitKey = true;
      return false;
    }
    if (m_awaitKey && frame.key_frame == 0) return false;
    m_awaitKey = false;
    planar420 = planar420 || frame.format == AV_PIX_FMT_YUVJ420P;
  }
  // Pictures are used only in planar 4:2:0.
  if (!planar420) return false;
  for (int c = 0; c < 3; ++c) {
    if (frame.data[c] == nullptr || frame.linesize[c] <= 0) return false;
    picture->planes[c] = frame.data[c];
    picture->strides[c] = frame.linesize[c];
  }
  picture->width = frame.width;
  picture->height = frame.height;
  return true;
}

}  // namespace kwz_codec
