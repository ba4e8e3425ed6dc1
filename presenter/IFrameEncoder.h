// The presenter's whole-frame encoders: one coded frame of the padded screen per call, in the
// form that a receiver's video decoder takes as the body of one screen message.
//
// Input pictures are 32-bit BGRA, top row first, of exactly the configured size. Width and height
// must be multiples of 16: receivers decode at the screen size rounded up to 16 in each
// direction, so the caller pads the captured screen (repeating its edge or with black) before
// encoding and announces the unpadded size in the message header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "runtime/base_exception.h"

// A screen message's BodyLength has 16 bits: a larger frame cannot be carried at all.
inline constexpr size_t kMaxFrameBodyBytes = 65535;

struct FrameEncoderSettings {
  int width = 0;       // multiple of 16, 16 to 4096
  int height = 0;      // multiple of 16, 16 to 4096
  int frameRate = 15;  // 1 to 60 frames per second
  // Average bit rate the rate control aims at, in kbit/s. 0 derives it from the frame rate and the
  // frame cap: an average frame of a quarter of the cap leaves a key frame room for four times
  // the average, which is how the encoders' key-frame budgets are set.
  int bitRateKbps = 0;
  size_t maxFrameBytes = kMaxFrameBodyBytes;  // 1024 to kMaxFrameBodyBytes

  int EffectiveBitRateKbps() const;
  // Valid when every field is in its range.
  bool IsValid() const;
};

// One encoder's life: created by CreateFrameEncoder, then Encode once per captured picture, from
// one thread at a time (the presenter's capture thread). Not thread-safe.
class IFrameEncoder {
 public:
  virtual ~IFrameEncoder() = default;

  // Codes one picture into *out (cleared first), the whole body of one screen message.
  // Returns true with 1 to maxFrameBytes bytes in *out. When a frame comes out larger than the
  // cap, the picture is coded again as a key frame with a coarser quantiser, up to a few times;
  // an inter frame that does not fit is never sent, because the encoder already references it.
  // Returns false with *out empty when no frame is to be sent for this picture: it still did not
  // fit at the coarsest setting, the rate control dropped it, the picture was refused (null, or a
  // stride below width × 4) or the codec failed. The caller skips the picture; after a frame that
  // did not fit or a codec failure the next Encode codes a key frame by itself.
  // forceKeyFrame asks for a key frame (a viewer joined, or asked to resynchronise).
  virtual bool Encode(const uint8_t* bgra, int strideBytes, bool forceKeyFrame,
                      std::vector<uint8_t>* out) = 0;

  // Whether the frame of the last successful Encode is a key frame.
  virtual bool LastFrameWasKey() const = 0;
  // How many times the last Encode ran the codec (1 when the first try fitted).
  virtual int LastAttempts() const = 0;
  virtual const FrameEncoderSettings& Settings() const = 0;
};

// Stream modes 3 (MPEG-4 Part 2), 4 (H.264), 5 (VP8) and 6 (VP9); the block modes 0 to 2 are
// coded block by block elsewhere and give nullptr, as does any other mode. Invalid settings or a
// codec that cannot be opened raise exc_frame_encoder.
std::unique_ptr<IFrameEncoder> CreateFrameEncoder(int streamMode,
                                                  const FrameEncoderSettings& settings);

class exc_frame_encoder : public base_exception {
 public:
  exc_frame_encoder(const WCHAR* file, LONG line, const WCHAR* message, DWORD code)
      : base_exception(file, line, u"frame_encoder", message, code) {}
};
