#include "web/LateJoinCache.h"

namespace kwz_web {
namespace {

constexpr std::uint32_t kBlockSide = 100;
constexpr std::uint32_t kVideoAlign = 16;

std::uint32_t RoundUp(std::uint32_t value, std::uint32_t step) {
  return (value + step - 1) / step * step;
}

}  // namespace

LateJoinCache::Geometry LateJoinCache::GeometryOf(const ScreenFields& fields) {
  Geometry g;
  g.video = fields.streamMode >= 3;
  const std::uint32_t step = g.video ? kVideoAlign : kBlockSide;
  g.streamMode = g.video ? fields.streamMode : 0;
  g.bytesPerPixel = fields.bytesPerPixel;
  g.paddedWidth = RoundUp(fields.width, step);
  g.paddedHeight = RoundUp(fields.height, step);
  return g;
}

void LateJoinCache::Clear() {
  m_blocks.clear();
  m_chain.clear();
  m_last.reset();
  m_bytes = 0;
  m_started = false;
}

void LateJoinCache::Add(const BrowserFramePtr& frame) {
  if (!frame || frame->text) return;
  const Geometry geometry = GeometryOf(frame->fields);
  if (!m_started || !(geometry == m_geometry)) {
    Clear();
    m_geometry = geometry;
    m_started = true;
  }
  if (geometry.video) {
    AddVideo(frame);
  } else {
    AddBlock(frame);
  }
}

void LateJoinCache::AddBlock(const BrowserFramePtr& frame) {
  m_last = frame;
  if (frame->fields.streamMode == 0) return;  // only the geometry, which m_last carries
  const std::uint32_t columns = m_geometry.paddedWidth / kBlockSide;
  const std::uint32_t rows = m_geometry.paddedHeight / kBlockSide;
  const std::uint64_t count = std::uint64_t{columns} * rows;
  if (frame->fields.blockIndex >= count) return;  // outside the grid: nothing is drawn
  if (m_blocks.size() < count) m_blocks.resize(count);
  BrowserFramePtr& slot = m_blocks[frame->fields.blockIndex];
  if (slot) m_bytes -= slot->wire.size();
  slot = frame;
  m_bytes += frame->wire.size();
  if (m_bytes > kMaxBytes) {
    m_blocks.clear();
    m_bytes = 0;
  }
}

void LateJoinCache::AddVideo(const BrowserFramePtr& frame) {
  m_last = frame;
  if (frame->keyFrame) {
    m_chain.clear();
    m_bytes = 0;
  } else if (m_chain.empty()) {
    return;  // nothing to build on until the next key frame
  }
  m_chain.push_back(frame);
  m_bytes += frame->wire.size();
  if (m_bytes > kMaxBytes || m_chain.size() > kMaxChainFrames) {
    m_chain.clear();
    m_bytes = 0;
  }
}

std::vector<BrowserFramePtr> LateJoinCache::Snapshot() const {
  if (!m_started) return {};
  if (m_geometry.video) return m_chain;
  std::vector<BrowserFramePtr> frames;
  frames.reserve(m_blocks.size() + 1);
  for (const BrowserFramePtr& block : m_blocks) {
    if (block) frames.push_back(block);
  }
  if (m_last) frames.push_back(m_last);
  return frames;
}

}  // namespace kwz_web
