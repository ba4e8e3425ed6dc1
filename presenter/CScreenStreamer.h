// Turns captured frames into the screen messages of one stream: for the block modes the blocks
// that changed since the last frame (all of them for the first frame, after a size change and,
// spread over the refresh period, every block again); for the video modes one coded frame of
// the padded screen; for mode 0 one geometry message. Knows nothing of sockets, so a viewer's
// tests can feed its messages straight to the decoding side.
//
// Ownership and threads: owned by the presenter's sending loop and called from one thread.
// Construction raises exc_screen_streamer; afterwards calls report through return values.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "presenter/CPaddedPicture.h"
#include "presenter/ScreenMessageWriter.h"
#include "presenter/ScreenStreamSettings.h"
#include "runtime/base_exception.h"

class IFrameEncoder;

class exc_screen_streamer : public base_exception {
 public:
  exc_screen_streamer(const WCHAR* file, LONG line, const WCHAR* message, DWORD code)
      : base_exception(file, line, u"screen_streamer", message, code) {}
};

namespace presenter {

class CBlockCoder;

struct CursorPosition {
  int x = 0;
  int y = 0;
};

// One captured frame: the upright screen and where the presenter's cursor is (none when it is
// off the shared area).
struct ScreenFrame {
  BgraView screen;
  std::optional<CursorPosition> cursor;
};

// What one frame produced.
struct FrameOutcome {
  bool accepted = false;  // false: the frame was refused (bad size) and nothing was sent
  bool skipped = false;   // the video encoder produced no frame for this picture
  std::size_t messages = 0;
  std::size_t bodyBytes = 0;
};

class CScreenStreamer {
 public:
  // Receives each message (header and body); the bytes are valid only during the call.
  using MessageSink = std::function<void(const std::uint8_t* message, std::size_t length)>;

  // Raises exc_screen_streamer for unusable settings or a block codec that does not open.
  explicit CScreenStreamer(const ScreenStreamSettings& settings);
  ~CScreenStreamer();
  CScreenStreamer(const CScreenStreamer&) = delete;
  CScreenStreamer& operator=(const CScreenStreamer&) = delete;

  // Codes one frame and hands its messages to sink, in order. A frame of 1 to kMaxScreenSide
  // pixels each way is accepted; any other is refused without changing the stream's state.
  FrameOutcome AddFrame(const ScreenFrame& frame, const MessageSink& sink);

  // Makes the next frame send everything again (a block modes' full picture, a video key frame).
  void RequestRefresh() { m_refreshAll = true; }

  const ScreenStreamSettings& Settings() const { return m_settings; }
  std::uint32_t FramesCoded() const { return m_frameCount; }

 private:
  FrameOutcome AddBlocks(const ScreenFrame& frame, bool sizeChanged, const MessageSink& sink);
  FrameOutcome AddVideo(const ScreenFrame& frame, bool sizeChanged, const MessageSink& sink);
  void Emit(const ScreenFrame& frame, int blockIndex, const std::vector<std::uint8_t>& body,
            const MessageSink& sink, FrameOutcome* outcome);

  const ScreenStreamSettings m_settings;
  int m_width = 0;  // size of the last accepted frame; 0 before the first
  int m_height = 0;
  std::uint32_t m_frameCount = 0;
  bool m_refreshAll = true;

  std::unique_ptr<CBlockCoder> m_blocks;  // modes 1 and 2
  CPaddedPicture m_current;
  CPaddedPicture m_previous;   // what the viewers were last sent, block modes only
  std::vector<bool> m_unsent;  // blocks whose coding failed, tried again next frame

  std::unique_ptr<IFrameEncoder> m_video;  // modes 3 to 6, made for the padded size
  int m_framesSinceKey = 0;

  std::vector<std::uint8_t> m_body;
  std::vector<std::uint8_t> m_message;
};

}  // namespace presenter
