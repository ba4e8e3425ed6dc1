// A viewer's decoding side for the presenter's tests: each message is checked and parsed as the
// screen endpoint does (CSSPacket) and brought into a drawing surface (CBMPManager), whose
// bitmap is then read back as the picture a viewer would paint.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/CBMPManager.h"
#include "packet/CSSPacket.h"
#include "presenter/CScreenStreamer.h"

namespace kwz_test {

// A message as the streamer produced it, with its header fields read back.
struct SentMessage {
  std::vector<std::uint8_t> bytes;
  int mode = 0;
  int bytesPerPixel = 0;
  int width = 0;
  int height = 0;
  int blockIndex = 0;
  std::uint16_t cursorX = 0;
  std::uint16_t cursorY = 0;
  std::size_t bodyLength = 0;
};

// Codes one frame and collects its messages.
std::vector<SentMessage> StreamFrame(presenter::CScreenStreamer& streamer,
                                     const presenter::ScreenFrame& frame,
                                     presenter::FrameOutcome* outcome = nullptr);

class ViewerHarness {
 public:
  ViewerHarness();

  // Accepts and decodes one message; returns DecodeMessage's result. A message the endpoint
  // would refuse fails the test and returns -2.
  std::int32_t Take(const SentMessage& message);

  // The width × height picture at the top of the bitmap (what is painted), upright, as B, G, R
  // bytes; of 24- or 32-bit pixels only.
  std::vector<std::uint8_t> VisibleBgr(int width, int height) const;

 private:
  CSSPacket m_packet;
  CBMPManager m_surface;
};

// Peak signal-to-noise ratio in dB between an upright BGRA picture and B, G, R bytes of the same
// size (infinity when they are equal).
double PsnrBgr(const std::vector<std::uint8_t>& bgra, const std::vector<std::uint8_t>& bgr,
               int width, int height);
// The picture upside down, for checks that a picture is not mirrored.
std::vector<std::uint8_t> FlipRows(const std::vector<std::uint8_t>& pixels, int rowBytes);

presenter::ScreenFrame FrameOf(const std::vector<std::uint8_t>& bgra, int width, int height);

}  // namespace kwz_test
