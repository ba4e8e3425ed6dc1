// FFmpeg objects owned through std::unique_ptr, released by FFmpeg's own free functions.
// Internal to codec/. Context release must hold the avcodec mutex; the owners take it.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace kwz_codec {

struct AvCodecContextDeleter {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct AvFrameDeleter {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct AvPacketDeleter {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using AvCodecContextPtr = std::unique_ptr<AVCodecContext, AvCodecContextDeleter>;
using AvFramePtr = std::unique_ptr<AVFrame, AvFrameDeleter>;
using AvPacketPtr = std::unique_ptr<AVPacket, AvPacketDeleter>;

}  // namespace kwz_codec
