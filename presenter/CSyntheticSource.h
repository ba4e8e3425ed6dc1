// The synthetic desktop as a source: frame n is the desktop's frame n, with its moving cursor.
#pragma once

#include <vector>

#include "presenter/IScreenSource.h"
#include "presenter/SyntheticDesktop.h"

namespace presenter {

class CSyntheticSource : public IScreenSource {
 public:
  // width and height at least 64 (the desktop's minimum).
  CSyntheticSource(int width, int height);
  bool Capture(std::uint32_t frame, ScreenFrame* out) override;

 private:
  SyntheticDesktop m_desktop;
  std::vector<std::uint8_t> m_pixels;
};

}  // namespace presenter
