#include "presenter/CScreenStreamer.h"

#include <algorithm>

#include "presenter/CBlockCoder.h"
#include "presenter/IFrameEncoder.h"

namespace presenter {
namespace {

int RoundUp(int value, int step) {
  return (value + step - 1) / step * step;
}

bool IsVideoMode(int mode) {
  return mode >= 3;
}

}  // namespace

CScreenStreamer::CScreenStreamer(const ScreenStreamSettings& settings) : m_settings(settings) {
  if (settings.Problem() != nullptr) {
    throw exc_screen_streamer(u"CScreenStreamer.cpp", __LINE__, u"Unusable stream settings.", 0);
  }
  if (settings.streamMode == 1 || settings.streamMode == 2) {
    m_blocks = std::make_unique<CBlockCoder>(settings);
  }
}

CScreenStreamer::~CScreenStreamer() = default;

FrameOutcome CScreenStreamer::AddFrame(const ScreenFrame& frame, const MessageSink& sink) {
  const BgraView& screen = frame.screen;
  if (screen.pixels == nullptr || screen.width < 1 || screen.height < 1 ||
      screen.width > kMaxScreenSide || screen.height > kMaxScreenSide ||
      screen.strideBytes < screen.width * 4) {
    return FrameOutcome{};
  }
  const bool sizeChanged = screen.width != m_width || screen.height != m_height;

  FrameOutcome outcome;
  if (m_settings.streamMode == 0) {
    m_body.clear();
    outcome.accepted = true;
    Emit(frame, 0, m_body, sink, &outcome);
  } else if (IsVideoMode(m_settings.streamMode)) {
    outcome = AddVideo(frame, sizeChanged, sink);
  } else {
    outcome = AddBlocks(frame, sizeChanged, sink);
  }
  if (!outcome.accepted) return outcome;
  m_width = screen.width;
  m_height = screen.height;
  ++m_frameCount;
  return outcome;
}

FrameOutcome CScreenStreamer::AddBlocks(const ScreenFrame& frame, bool sizeChanged,
                                        const MessageSink& sink) {
  FrameOutcome outcome;
  const int paddedWidth = RoundUp(frame.screen.width, kBlockWidth);
  const int paddedHeight = RoundUp(frame.screen.height, kBlockHeight);
  if (!m_current.Fill(frame.screen, paddedWidth, paddedHeight, RowOrder::kBottomUp)) return outcome;
  outcome.accepted = true;

  const int count = paddedWidth / kBlockWidth * (paddedHeight / kBlockHeight);
  const bool everything = m_refreshAll || sizeChanged;
  if (everything) m_unsent.assign(static_cast<std::size_t>(count), false);
  const std::uint32_t period = static_cast<std::uint32_t>(m_settings.refreshFrames);

  for (int index = 0; index < count; ++index) {
    // The refresh is spread over the period, a slice of the grid per frame, so that it costs
    // every frame the same instead of one burst of the whole screen.
    const bool refresh =
        period != 0 && static_cast<std::uint32_t>(index) % period == m_frameCount % period;
    const bool send = everything || m_unsent[index] || refresh ||
                      CBlockCoder::BlockDiffers(m_current, m_previous, index);
    if (!send) continue;
    if (!m_blocks->Code(m_current, index, &m_body)) {
      m_unsent[index] = true;
      continue;
    }
    m_unsent[index] = false;
    Emit(frame, index, m_body, sink, &outcome);
  }
  m_previous.Swap(m_current);
  m_refreshAll = false;
  return outcome;
}

FrameOutcome CScreenStreamer::AddVideo(const ScreenFrame& frame, bool sizeChanged,
                                       const MessageSink& sink) {
  FrameOutcome outcome;
  const int width16 = RoundUp(frame.screen.width, 16);
  const int height16 = RoundUp(frame.screen.height, 16);
  if (sizeChanged || !m_video) {
    FrameEncoderSettings encoder;
    encoder.width = std::max(width16, 16);
    encoder.height = std::max(height16, 16);
    encoder.frameRate = m_settings.frameRate;
    encoder.bitRateKbps = m_settings.bitRateKbps;
    try {
      m_video = CreateFrameEncoder(m_settings.streamMode, encoder);
    } catch (const base_exception&) {
      m_video.reset();
    }
    if (!m_video) return outcome;
    m_framesSinceKey = 0;
  }
  // 32-bit frames land in the viewer's bitmap in coded order, 24-bit ones mirrored.
  const RowOrder order = m_settings.bytesPerPixel == 4 ? RowOrder::kBottomUp : RowOrder::kTopDown;
  if (!m_current.Fill(frame.screen, width16, height16, order)) return outcome;
  outcome.accepted = true;

  const bool periodic =
      m_settings.refreshFrames != 0 && m_framesSinceKey >= m_settings.refreshFrames;
  if (!m_video->Encode(m_current.Data(), m_current.StrideBytes(), m_refreshAll || periodic,
                       &m_body)) {
    outcome.skipped = true;
    ++m_framesSinceKey;
    return outcome;
  }
  if (m_video->LastFrameWasKey()) {
    m_refreshAll = false;
    m_framesSinceKey = 0;
  }
  ++m_framesSinceKey;
  Emit(frame, 0, m_body, sink, &outcome);
  return outcome;
}

void CScreenStreamer::Emit(const ScreenFrame& frame, int blockIndex,
                           const std::vector<std::uint8_t>& body, const MessageSink& sink,
                           FrameOutcome* outcome) {
  ScreenMessageFields fields;
  fields.streamMode = static_cast<std::uint8_t>(m_settings.streamMode);
  fields.bytesPerPixel = static_cast<std::uint8_t>(m_settings.bytesPerPixel);
  fields.width = static_cast<std::uint16_t>(frame.screen.width);
  fields.height = static_cast<std::uint16_t>(frame.screen.height);
  const std::uint64_t stride =
      (static_cast<std::uint64_t>(m_settings.bytesPerPixel) * 8 * frame.screen.width + 31) / 32 * 4;
  fields.imageSize = static_cast<std::uint32_t>(stride * frame.screen.height);
  if (frame.cursor && frame.cursor->x >= 0 && frame.cursor->x < frame.screen.width &&
      frame.cursor->y >= 0 && frame.cursor->y < frame.screen.height) {
    fields.cursorX = static_cast<std::uint16_t>(frame.cursor->x);
    fields.cursorY = static_cast<std::uint16_t>(frame.cursor->y);
  }
  fields.blockIndex = static_cast<std::uint16_t>(blockIndex);
  WriteScreenMessage(fields, body.data(), body.size(), &m_message);
  sink(m_message.data(), m_message.size());
  ++outcome->messages;
  outcome->bodyBytes += body.size();
}

}  // namespace presenter
