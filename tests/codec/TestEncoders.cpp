#include "tests/codec/TestEncoders.h"

#include <gtest/gtest.h>
#include <libyuv/convert.h>

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include "presenter/SyntheticDesktop.h"

namespace kwz_test {

Image MakeScreen(int width, int height, int frame) {
  return {width, height, SyntheticDesktop(width, height).Render(static_cast<std::uint32_t>(frame))};
}

namespace {

std::vector<CodedFrame> EncodeFfmpeg(AVCodecID id, const std::vector<Image>& frames, int keyEvery) {
  std::vector<CodedFrame> out;
  const bool vpx = id == AV_CODEC_ID_VP8 || id == AV_CODEC_ID_VP9;
  const bool h264 = id == AV_CODEC_ID_H264;
  const AVCodec* codec =
      vpx    ? avcodec_find_encoder_by_name(id == AV_CODEC_ID_VP8 ? "libvpx" : "libvpx-vp9")
      : h264 ? avcodec_find_encoder_by_name("libx264")
             : avcodec_find_encoder(id);
  AVCodecContext* context = avcodec_alloc_context3(codec);
  AVFrame* frame = av_frame_alloc();
  AVPacket* packet = av_packet_alloc();
  const bool jpeg = id == AV_CODEC_ID_MJPEG;
  context->width = frames[0].width;
  context->height = frames[0].height;
  context->pix_fmt = jpeg ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
  context->time_base = AVRational{1, 10};
  context->gop_size = keyEvery > 0 ? keyEvery : 300;
  context->max_b_frames = 0;
  if (vpx) {
    context->bit_rate = 40000000;
    context->qmin = 4;
    context->qmax = 12;
    context->thread_count = 2;
    av_opt_set(context->priv_data, "deadline", "realtime", 0);
    av_opt_set_int(context->priv_data, "cpu-used", 8, 0);
    av_opt_set_int(context->priv_data, "lag-in-frames", 0, 0);
  } else if (h264) {
    // Baseline, one slice per frame, a key frame exactly every gop_size, each out at once.
    context->thread_count = 1;
    av_opt_set(context->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    av_opt_set(context->priv_data, "profile", "baseline", 0);
    av_opt_set(context->priv_data, "x264-params", "scenecut=0:qp=12:log=-1", 0);
  } else {
    context->flags |= AV_CODEC_FLAG_QSCALE;
    context->global_quality = FF_QP2LAMBDA * 2;
  }
  if (avcodec_open2(context, codec, nullptr) < 0) {
    ADD_FAILURE() << "cannot open the FFmpeg encoder";
  } else {
    frame->format = context->pix_fmt;
    frame->width = context->width;
    frame->height = context->height;
    av_frame_get_buffer(frame, 0);
    for (size_t i = 0; i < frames.size(); ++i) {
      av_frame_make_writable(frame);
      libyuv::ARGBToI420(frames[i].bgra.data(), frames[i].width * 4, frame->data[0],
                         frame->linesize[0], frame->data[1], frame->linesize[1], frame->data[2],
                         frame->linesize[2], frames[i].width, frames[i].height);
      frame->pts = static_cast<int64_t>(i);
      const bool forceKey = vpx && i > 0 && keyEvery > 0 && i % keyEvery == 0;
      frame->pict_type = forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
      frame->quality = context->global_quality;
      if (avcodec_send_frame(context, frame) < 0 || avcodec_receive_packet(context, packet) < 0) {
        ADD_FAILURE() << "FFmpeg encode failed at frame " << i;
        break;
      }
      out.push_back({std::vector<std::uint8_t>(packet->data, packet->data + packet->size),
                     (packet->flags & AV_PKT_FLAG_KEY) != 0});
      av_packet_unref(packet);
    }
  }
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&context);
  return out;
}

}  // namespace

std::vector<CodedFrame> Encode(TestCodec codec, const std::vector<Image>& frames, int keyEvery) {
  constexpr AVCodecID kIds[] = {AV_CODEC_ID_MPEG4, AV_CODEC_ID_MJPEG, AV_CODEC_ID_H264,
                                AV_CODEC_ID_VP8, AV_CODEC_ID_VP9};
  return EncodeFfmpeg(kIds[static_cast<int>(codec)], frames,
                      codec == TestCodec::kMjpeg ? 1 : keyEvery);
}

std::vector<std::uint8_t> WithVpxMarker(const CodedFrame& frame) {
  const std::uint32_t word = frame.key ? 0x10010000u : 0xEFFEFFFFu;
  std::vector<std::uint8_t> out(4 + frame.data.size());
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(word >> (8 * i));  // little-endian
  std::copy(frame.data.begin(), frame.data.end(), out.begin() + 4);
  return out;
}

double Psnr(const Image& source, const std::uint8_t* output, int stride, int bytesPerPixel,
            bool bottomUp) {
  double squared = 0;
  for (int y = 0; y < source.height; ++y) {
    const std::uint8_t* s = source.bgra.data() + static_cast<size_t>(y) * source.width * 4;
    const int row = bottomUp ? source.height - 1 - y : y;
    const std::uint8_t* o = output + static_cast<size_t>(row) * stride;
    for (int x = 0; x < source.width; ++x) {
      for (int c = 0; c < 3; ++c) {
        const double d = static_cast<double>(s[4 * x + c]) - o[bytesPerPixel * x + c];
        squared += d * d;
      }
    }
  }
  const double mse = squared / (3.0 * source.width * source.height);
  return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace kwz_test
