#include "codec/CVideoEncoder.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include <libyuv/convert.h>

#include "codec/AvcodecLockGuard.h"
#include "platform/winerror.h"

using namespace kwz_codec;

// FFmpeg 5 registers its codecs itself, so nothing is registered under the mutex here.
CVideoEncoder::CVideoEncoder() = default;

CVideoEncoder::~CVideoEncoder() {
  Close();
}

HRESULT CVideoEncoder::SetInputFormat(const BITMAPINFOHEADER* format) {
  if (format == nullptr || format->biCompression != BI_RGB || format->biBitCount != 32) {
    return E_FAIL;
  }
  m_width = format->biWidth;
  m_height = format->biHeight;
  m_inputFormat = kFormatRgb32;
  return S_OK;
}

void CVideoEncoder::SetQuality(int quality) {
  if (quality < 1 || quality > 100) return;
  // Quality 100 gives quantiser 1, quality 1 gives 31, in FFmpeg's lambda units (118 each).
  m_jpegQuality = FF_QP2LAMBDA * (31 - 31 * quality / 100) + 1;
}

HRESULT CVideoEncoder::Open() {
  if (m_opened) return S_OK;
  if (m_width < 1 || m_height < 1 || m_width > kMaxPictureSide || m_height > kMaxPictureSide ||
      m_codecId != kCodecMjpeg) {
    return E_FAIL;
  }
  try {
    AvcodecLockGuard guard(m_avcodecLock);
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    if (codec == nullptr) return E_FAIL;
    AvCodecContextPtr context(avcodec_alloc_context3(codec));
    AvFramePtr frame(av_frame_alloc());
    AvPacketPtr packet(av_packet_alloc());
    if (!context || !frame || !packet) return E_FAIL;
    context->codec_type = AVMEDIA_TYPE_VIDEO;
    context->width = m_width;
    context->height = m_height;
    context->pix_fmt = AV_PIX_FMT_YUVJ420P;
    context->bit_rate = static_cast<int64_t>(m_bitRate) * 1000;
    context->time_base = AVRational{1, 1};
    context->gop_size = 0;
    // A fixed quantiser per picture: each block is coded alone at the set quality.
    context->flags |= AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_QSCALE;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return E_FAIL;
    frame->format = AV_PIX_FMT_YUVJ420P;
    frame->width = m_width;
    frame->height = m_height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return E_FAIL;
    m_context = std::move(context);
    m_frame = std::move(frame);
    m_packet = std::move(packet);
  } catch (const std::bad_alloc&) {
    return E_FAIL;
  }
  m_opened = true;
  return S_OK;
}

HRESULT CVideoEncoder::Close() {
  AvcodecLockGuard guard(m_avcodecLock);
  m_context.reset();
  m_frame.reset();
  m_packet.reset();
  m_opened = false;
  return S_OK;
}

HRESULT CVideoEncoder::Encode(const BYTE* bgra, int stride, BYTE* destination, DWORD capacity,
                              DWORD* bytes) {
  if (!m_opened || bgra == nullptr || destination == nullptr || bytes == nullptr) return E_FAIL;
  if (std::llabs(static_cast<long long>(stride)) < 4LL * m_width) return 1;
  if (av_frame_make_writable(m_frame.get()) < 0) return 1;
  AVFrame* frame = m_frame.get();
  // The studio-range BT.601 samples that the decoder's conversion turns back into BGRA.
  if (libyuv::ARGBToI420(bgra, stride, frame->data[0], frame->linesize[0], frame->data[1],
                         frame->linesize[1], frame->data[2], frame->linesize[2], m_width,
                         m_height) != 0) {
    return 1;
  }
  frame->quality = m_jpegQuality;
  frame->pts = m_pts++;
  if (avcodec_send_frame(m_context.get(), frame) < 0) return 1;
  if (avcodec_receive_packet(m_context.get(), m_packet.get()) < 0) return 1;
  HRESULT result = 1;
  if (m_packet->size > 0 && static_cast<DWORD>(m_packet->size) <= capacity) {
    std::memcpy(destination, m_packet->data, static_cast<size_t>(m_packet->size));
    *bytes = static_cast<DWORD>(m_packet->size);
    result = S_OK;
  }
  av_packet_unref(m_packet.get());
  return result;
}
