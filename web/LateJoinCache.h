// What a browser that joins mid-stream needs to show the current picture at once: for a block
// screen, the last message of every block of the current geometry; for a video stream, the last
// key frame and every frame since. Frames are shared, not copied.
//
// Memory is bounded: a block screen or a chain of frames that outgrows kMaxBytes is dropped (a
// browser that joins then waits for the next block refresh or key frame).
//
// Used on the gateway's network thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "web/BrowserFrame.h"

namespace kwz_web {

class LateJoinCache {
 public:
  static constexpr std::size_t kMaxBytes = std::size_t{64} << 20;
  static constexpr std::size_t kMaxChainFrames = 1500;

  // Takes a screen frame in arrival order.
  void Add(const BrowserFramePtr& frame);
  // The frames to send a new browser, oldest first: every cached block then the newest block
  // message (the current size and cursor), or the chain from its key frame.
  std::vector<BrowserFramePtr> Snapshot() const;
  void Clear();

  std::size_t Bytes() const { return m_bytes; }

 private:
  // What a picture is rebuilt on: frames of another geometry start a new picture.
  struct Geometry {
    bool video = false;
    std::uint8_t streamMode = 0;  // video only: the codec
    std::uint8_t bytesPerPixel = 0;
    std::uint32_t paddedWidth = 0;
    std::uint32_t paddedHeight = 0;
    bool operator==(const Geometry&) const = default;
  };
  static Geometry GeometryOf(const ScreenFields& fields);

  void AddBlock(const BrowserFramePtr& frame);
  void AddVideo(const BrowserFramePtr& frame);

  Geometry m_geometry;
  bool m_started = false;
  std::vector<BrowserFramePtr> m_blocks;  // block screens: by block index
  std::vector<BrowserFramePtr> m_chain;   // video: a key frame and what followed
  BrowserFramePtr m_last;
  std::size_t m_bytes = 0;
};

}  // namespace kwz_web
