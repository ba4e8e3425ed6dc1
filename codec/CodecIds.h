// Codec identifiers and output-layout codes shared by the decoder wrapper, the block encoder
// and the engine that drives them.
#pragma once

#include "platform/wintypes.h"
#include "runtime/PictureLimits.h"

namespace kwz_codec {

// Identifiers carried by the engine's stream modes 2 to 6.
constexpr int kCodecMpeg4 = 2;  // MPEG-4 Part 2 (FFmpeg)
constexpr int kCodecH264 = 4;   // OpenH264, or FFmpeg when built with KWZ_H264_AVCODEC
constexpr int kCodecVp8 = 6;    // libvpx
constexpr int kCodecVp9 = 7;    // libvpx
constexpr int kCodecMjpeg = 9;  // Motion JPEG blocks (FFmpeg)

// Which library decodes H.264 in this build: true for FFmpeg, whose context also takes the
// avcodec mutex; false for OpenH264.
bool H264ThroughAvcodec();

constexpr DWORD MakeFourCC(const char (&code)[5]) {
  return static_cast<DWORD>(static_cast<BYTE>(code[0])) |
         static_cast<DWORD>(static_cast<BYTE>(code[1])) << 8 |
         static_cast<DWORD>(static_cast<BYTE>(code[2])) << 16 |
         static_cast<DWORD>(static_cast<BYTE>(code[3])) << 24;
}

// Output layouts: 32-bit BGRA, 24-bit BGR, 16-bit BGR555; NONE after a rejected description.
constexpr DWORD kFormatRgb32 = MakeFourCC("RGB3");
constexpr DWORD kFormatRgb24 = MakeFourCC("RGB2");
constexpr DWORD kFormatRgb16 = MakeFourCC("RGB1");
constexpr DWORD kFormatNone = MakeFourCC("NONE");

// Marker words that the presenter puts in front of each VP8/VP9 frame (little-endian; the key
// word reads 00 00 01 10 on the wire).
constexpr DWORD kVpxKeyFrameWord = 0x10010000u;
constexpr DWORD kVpxInterFrameWord = 0xEFFEFFFFu;

}  // namespace kwz_codec
