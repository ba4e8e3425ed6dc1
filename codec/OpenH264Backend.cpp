#include "codec/OpenH264Backend.h"

#include <wels/codec_api.h>

#include <cstdlib>
#include <string>

#include "codec/CodecIds.h"
#include "platform/debug.h"
#include "platform/ipp.h"

namespace kwz_codec {
namespace {

// OpenH264 writes a line to stderr for every damaged frame it meets. Stderr is the host's, and a
// lossy network would fill it; the library's complaints go to the debugger output instead.
void TraceToDebugOutput(void* /*context*/, int /*level*/, const char* message) {
  if (message == nullptr) return;
  std::string line(message);
  if (line.empty() || line.back() != '\n') line += '\n';
  OutputDebugStringA(line.c_str());
}

}  // namespace

void OpenH264Deleter::operator()(ISVCDecoder* decoder) const {
  decoder->Uninitialize();
  WelsDestroyDecoder(decoder);
}

void IppBufferDeleter::operator()(BYTE* buffer) const {
  w7_ippsFree(buffer);
}

std::unique_ptr<IDecoderBackend> CreateOpenH264Backend() {
  return std::make_unique<OpenH264Backend>();
}

bool H264ThroughAvcodec() {
#ifdef KWZ_H264_AVCODEC
  return true;
#else
  return false;
#endif
}

std::unique_ptr<IDecoderBackend> CreateH264Backend() {
  return H264ThroughAvcodec() ? CreateFfmpegBackend(kCodecH264) : CreateOpenH264Backend();
}

bool OpenH264Backend::Open(int width, int height) {
  ISVCDecoder* raw = nullptr;
  if (WelsCreateDecoder(&raw) != 0 || raw == nullptr) return false;
  WelsTraceCallback trace = &TraceToDebugOutput;
  raw->SetOption(DECODER_OPTION_TRACE_CALLBACK, &trace);
  SDecodingParam param = {};
  param.pFileNameRestructed = nullptr;
  param.uiCpuLoad = 0;
  param.uiTargetDqLayer = 0;
  param.eEcActiveIdc = ERROR_CON_DISABLE;  // a damaged picture is dropped, never shown
  param.bParseOnly = false;
  param.sVideoProperty.size = sizeof(param.sVideoProperty);
  param.sVideoProperty.eVideoBsType = VIDEO_BITSTREAM_DEFAULT;
  if (raw->Initialize(&param) != 0) {
    WelsDestroyDecoder(raw);
    return false;
  }
  std::unique_ptr<ISVCDecoder, OpenH264Deleter> decoder(raw);

  const long long luma = static_cast<long long>(width) * std::llabs(height);
  if (luma <= 0 || 2 * luma > 0x7FFFFFFF) return false;
  std::unique_ptr<BYTE, IppBufferDeleter> scratch(w7_ippsMalloc_8u(static_cast<int>(2 * luma)));
  if (!scratch) return false;
  m_decoder = std::move(decoder);
  m_scratch = std::move(scratch);
  m_lumaBytes = static_cast<size_t>(luma);
  return true;
}

bool OpenH264Backend::Decode(const BYTE* data, int length, unsigned long /*deadlineUs*/,
                             YuvPicture* picture) {
  if (!m_decoder) return false;
  BYTE* planes[3] = {m_scratch.get(), m_scratch.get() + m_lumaBytes,
                     m_scratch.get() + m_lumaBytes * 5 / 4};
  SBufferInfo info = {};
  if (m_decoder->DecodeFrameNoDelay(data, length, planes, &info) != dsErrorFree) return false;
  if (info.iBufferStatus != 1) return false;
  const SSysMEMBuffer& buffer = info.UsrData.sSystemBuffer;
  if (buffer.iFormat != videoFormatI420 || buffer.iStride[0] <= 0 || buffer.iStride[1] <= 0) {
    return false;
  }
  for (int c = 0; c < 3; ++c) {
    if (planes[c] == nullptr) return false;
    picture->planes[c] = planes[c];
  }
  // One chroma stride serves both chroma planes.
  picture->strides[0] = buffer.iStride[0];
  picture->strides[1] = buffer.iStride[1];
  picture->strides[2] = buffer.iStride[1];
  picture->width = buffer.iWidth;
  picture->height = buffer.iHeight;
  return true;
}

}  // namespace kwz_codec
