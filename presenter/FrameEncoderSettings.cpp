#include "presenter/IFrameEncoder.h"

int FrameEncoderSettings::EffectiveBitRateKbps() const {
  if (bitRateKbps > 0) return bitRateKbps;
  int64_t averageFrameBits = static_cast<int64_t>(maxFrameBytes) * 8 / 4;
  return static_cast<int>(averageFrameBits * frameRate / 1000);
}

bool FrameEncoderSettings::IsValid() const {
  auto sideOk = [](int side) { return side >= 16 && side <= 4096 && side % 16 == 0; };
  return sideOk(width) && sideOk(height) && frameRate >= 1 && frameRate <= 60 && bitRateKbps >= 0 &&
         bitRateKbps <= 100000 && maxFrameBytes >= 1024 && maxFrameBytes <= kMaxFrameBodyBytes;
}
