#include "tests/presenter/ReferenceDecoder.h"

#include <vpx/vp8dx.h>
#include <vpx/vpx_decoder.h>
#include <wels/codec_api.h>

#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "presenter/CVpxFrameEncoder.h"
#include "runtime/CKWZ_AVCodec_MutexAutoLock.h"

namespace kwz_test {
namespace {

void CopyPlane(const uint8_t* src, int stride, int w, int h, std::vector<uint8_t>* out) {
  for (int y = 0; y < h; ++y)
    out->insert(out->end(), src + static_cast<size_t>(y) * stride,
                src + static_cast<size_t>(y) * stride + w);
}

void CopyI420(const uint8_t* const planes[3], const int strides[3], int w, int h,
              I420Image* picture) {
  picture->width = w;
  picture->height = h;
  picture->bytes.clear();
  CopyPlane(planes[0], strides[0], w, h, &picture->bytes);
  CopyPlane(planes[1], strides[1], w / 2, h / 2, &picture->bytes);
  CopyPlane(planes[2], strides[2], w / 2, h / 2, &picture->bytes);
}

}  // namespace

struct ReferenceDecoder::Impl {
  int mode = 0;
  ISVCDecoder* h264 = nullptr;
  vpx_codec_ctx_t vpx{};
  bool vpxOpen = false;
  AVCodecContext* av = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  CKWZ_AVCodec_MutexAutoLock lock;
};

ReferenceDecoder::ReferenceDecoder(int streamMode) : m_impl(std::make_unique<Impl>()) {
  Impl& d = *m_impl;
  d.mode = streamMode;
  if (streamMode == 4) {
    WelsCreateDecoder(&d.h264);
    SDecodingParam param{};
    param.sVideoProperty.size = sizeof(param.sVideoProperty);
    param.sVideoProperty.eVideoBsType = VIDEO_BITSTREAM_DEFAULT;
    param.eEcActiveIdc = ERROR_CON_DISABLE;
    d.h264->Initialize(&param);
  } else if (streamMode == 5 || streamMode == 6) {
    d.vpxOpen =
        vpx_codec_dec_init(&d.vpx, streamMode == 5 ? vpx_codec_vp8_dx() : vpx_codec_vp9_dx(),
                           nullptr, 0) == VPX_CODEC_OK;
  } else if (streamMode == 3) {
    d.lock.Lock();
    d.av = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_MPEG4));
    d.av->thread_count = 1;
    avcodec_open2(d.av, nullptr, nullptr);
    d.lock.Unlock();
    d.frame = av_frame_alloc();
    d.packet = av_packet_alloc();
  }
}

ReferenceDecoder::~ReferenceDecoder() {
  Impl& d = *m_impl;
  if (d.h264 != nullptr) {
    d.h264->Uninitialize();
    WelsDestroyDecoder(d.h264);
  }
  if (d.vpxOpen) vpx_codec_destroy(&d.vpx);
  if (d.av != nullptr) {
    d.lock.Lock();
    avcodec_free_context(&d.av);
    d.lock.Unlock();
  }
  av_frame_free(&d.frame);
  av_packet_free(&d.packet);
}

bool ReferenceDecoder::Decode(const std::vector<uint8_t>& body, I420Image* picture) {
  Impl& d = *m_impl;
  if (d.mode == 4) {
    uint8_t* planes[3] = {};
    SBufferInfo info{};
    int rc = d.h264->DecodeFrameNoDelay(body.data(), static_cast<int>(body.size()), planes, &info);
    if (rc != 0) return false;
    if (info.iBufferStatus != 1) return false;
    const SSysMEMBuffer& mem = info.UsrData.sSystemBuffer;
    const uint8_t* const cplanes[3] = {planes[0], planes[1], planes[2]};
    const int strides[3] = {mem.iStride[0], mem.iStride[1], mem.iStride[1]};
    CopyI420(cplanes, strides, mem.iWidth, mem.iHeight, picture);
    return true;
  }
  if (d.mode == 5 || d.mode == 6) {
    if (!d.vpxOpen || body.size() < 4) return false;
    uint32_t marker = LittleEndianWord(body);
    if (marker != kVpxKeyFrameMarker && marker != kVpxInterFrameMarker) return false;
    if (vpx_codec_decode(&d.vpx, body.data() + 4, static_cast<unsigned>(body.size() - 4), nullptr,
                         0) != VPX_CODEC_OK)
      return false;
    vpx_codec_iter_t iter = nullptr;
    const vpx_image_t* image = vpx_codec_get_frame(&d.vpx, &iter);
    if (image == nullptr) return false;
    const uint8_t* const planes[3] = {image->planes[0], image->planes[1], image->planes[2]};
    CopyI420(planes, image->stride, static_cast<int>(image->d_w), static_cast<int>(image->d_h),
             picture);
    return true;
  }
  if (d.mode == 3) {
    d.packet->data = const_cast<uint8_t*>(body.data());
    d.packet->size = static_cast<int>(body.size());
    int sent = avcodec_send_packet(d.av, d.packet);
    d.packet->data = nullptr;
    d.packet->size = 0;
    if (sent < 0 || avcodec_receive_frame(d.av, d.frame) < 0) return false;
    if (d.frame->format != AV_PIX_FMT_YUV420P) return false;
    const uint8_t* const planes[3] = {d.frame->data[0], d.frame->data[1], d.frame->data[2]};
    CopyI420(planes, d.frame->linesize, d.frame->width, d.frame->height, picture);
    av_frame_unref(d.frame);
    return true;
  }
  return false;
}

namespace {
double Psnr(const uint8_t* a, const uint8_t* b, size_t n) {
  double sum = 0;
  for (size_t i = 0; i < n; ++i) {
    double diff = static_cast<double>(a[i]) - b[i];
    sum += diff * diff;
  }
  if (sum == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(n) / sum);
}
}  // namespace

double PsnrI420(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0;
  return Psnr(a.data(), b.data(), a.size());
}

double PsnrLuma(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int width,
                int height) {
  size_t n = static_cast<size_t>(width) * height;
  if (a.size() < n || b.size() < n) return 0;
  return Psnr(a.data(), b.data(), n);
}

uint32_t LittleEndianWord(const std::vector<uint8_t>& body) {
  if (body.size() < 4) return 0;
  return uint32_t{body[0]} | uint32_t{body[1]} << 8 | uint32_t{body[2]} << 16 |
         uint32_t{body[3]} << 24;
}

}  // namespace kwz_test
