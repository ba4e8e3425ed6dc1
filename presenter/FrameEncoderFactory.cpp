#include "presenter/CH264FrameEncoder.h"
#include "presenter/CMpeg4FrameEncoder.h"
#include "presenter/CVpxFrameEncoder.h"
#include "presenter/IFrameEncoder.h"

std::unique_ptr<IFrameEncoder> CreateFrameEncoder(int streamMode,
                                                  const FrameEncoderSettings& settings) {
  if (streamMode < 3 || streamMode > 6) return nullptr;
  if (!settings.IsValid())
    throw exc_frame_encoder(u"FrameEncoderFactory.cpp", __LINE__,
                            u"Frame size, frame rate, bit rate or frame cap out of range.", 0);
  switch (streamMode) {
    case 3:
      return std::make_unique<CMpeg4FrameEncoder>(settings);
    case 4:
      return std::make_unique<CH264FrameEncoder>(settings);
    case 5:
      return std::make_unique<CVpxFrameEncoder>(CVpxFrameEncoder::Codec::kVp8, settings);
    default:
      return std::make_unique<CVpxFrameEncoder>(CVpxFrameEncoder::Codec::kVp9, settings);
  }
}
