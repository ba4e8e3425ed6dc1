// The thin interface behind which CVideoDecoder reaches one codec library (FFmpeg, OpenH264 or
// libvpx), so the wrapper's own rules (key-frame gate, size checks, conversion) stay apart from
// each library's calls. Internal to codec/.
//
// A backend lives from a successful Open to the wrapper's Close, and is called only on the
// engine's decoding thread. For FFmpeg backends the wrapper holds the avcodec mutex around
// Open and around destruction.
#pragma once

#include <memory>

#include "platform/wintypes.h"

namespace kwz_codec {

// One decoded picture as planar YCbCr 4:2:0: chroma planes of (width+1)/2 by (height+1)/2.
// The planes belong to the backend and stay valid until its next Decode or its destruction.
struct YuvPicture {
  const BYTE* planes[3] = {};
  int strides[3] = {};
  int width = 0;
  int height = 0;
};

class IDecoderBackend {
 public:
  virtual ~IDecoderBackend() = default;

  // Prepares the library for pictures of the configured size; false when it cannot.
  virtual bool Open(int width, int height) = 0;

  // Decodes one coded packet of length > 0 bytes. True when a picture in 4:2:0 came out (of
  // whatever size); false when the library needs more data, reported an error or produced a
  // layout the wrapper cannot convert. deadlineUs is used by libvpx only (0: no limit).
  // A backend may refuse to decode a frame that announces a picture larger than the configured
  // size: it then returns true with the announced size and no planes, and keeps no reference
  // to it, so the next frame that can be shown is a key frame.
  virtual bool Decode(const BYTE* data, int length, unsigned long deadlineUs,
                      YuvPicture* picture) = 0;

  // True for FFmpeg, whose context open and release must hold the avcodec mutex.
  virtual bool UsesAvcodec() const = 0;
};

// Each returns null for an identifier it does not serve.
std::unique_ptr<IDecoderBackend> CreateFfmpegBackend(int codecId);
std::unique_ptr<IDecoderBackend> CreateOpenH264Backend();
std::unique_ptr<IDecoderBackend> CreateVpxBackend(int codecId);
// OpenH264 or FFmpeg's h264, as the build chose.
std::unique_ptr<IDecoderBackend> CreateH264Backend();

}  // namespace kwz_codec
