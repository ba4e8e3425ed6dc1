// Every browser the gateway serves, and what they share: the frames of the stream, the caches
// that bring a late browser up to date, the status line, and who holds remote control.
//
// A browser receives nothing until it has said which video codecs it decodes; from then on it
// gets each frame either as the presenter coded it or, for a codec it lacks, re-coded as blocks
// (the feed does the decoding for as long as some browser needs it).
//
// Threads: everything runs on the gateway's network thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "web/BrowserFrame.h"
#include "web/BrowserInputMessage.h"
#include "web/LateJoinCache.h"

namespace kwz_web {

class BrowserRemoteControl;
class BrowserSession;

// Whether a browser that decodes these codecs (kCodecH264, kCodecVp8, kCodecVp9) is sent frames of
// this stream mode re-coded as blocks.
bool NeedsDecodedFrames(std::uint8_t caps, int streamMode);

struct HubCounters {
  std::uint64_t lost = 0;
  std::uint64_t received = 0;
};

class BrowserHub {
 public:
  struct Callbacks {
    // The stream modes that some browser needs re-coded (bit n: mode n).
    std::function<void(std::uint32_t)> setDecodedModes;
    // The receiving counters, for the status line.
    std::function<HubCounters()> counters;
    // Where the input of the browser that holds control goes. Null: the gateway was started
    // without remote control, and every browser only watches.
    BrowserRemoteControl* remote = nullptr;
  };

  explicit BrowserHub(Callbacks callbacks);
  ~BrowserHub();

  // A frame of the stream: as coded (decoded false) or re-coded as blocks.
  void OnFrame(const BrowserFramePtr& frame, bool decoded);

  void Join(const std::shared_ptr<BrowserSession>& session);
  void Leave(BrowserSession* session);
  // The browser's codecs: it is sent the current picture and then the live frames.
  void OnCaps(BrowserSession* session, std::uint8_t caps);
  // The browser's queue overflowed and has drained: it is sent the current picture again.
  void Resync(BrowserSession* session);
  // A request to take (true) or let go of (false) remote control.
  void OnControl(BrowserSession* session, bool take);
  // Input is carried out for the browser that holds control and dropped for the others.
  void OnPointer(BrowserSession* session, const BrowserPointer& pointer);
  void OnKey(BrowserSession* session, const BrowserKey& key);

  // Sends every browser its status line.
  void SendStatus();

  // Bytes waiting to be written to browsers, all together; for diagnostics and tests.
  std::size_t QueuedBytes() const;
  bool RemoteControlEnabled() const { return m_callbacks.remote != nullptr; }
  bool HasController() const { return m_controller != nullptr; }

 private:
  std::vector<BrowserFramePtr> SnapshotFor(const BrowserSession& session) const;
  void UpdateDecodedModes();
  const char* ControlStateFor(const BrowserSession* session) const;

  Callbacks m_callbacks;
  std::vector<std::shared_ptr<BrowserSession>> m_sessions;
  LateJoinCache m_raw;
  LateJoinCache m_decoded;
  int m_rawMode = -1;
  BrowserSession* m_controller = nullptr;  // one of m_sessions, or null
  std::uint32_t m_decodedModes = 0;
};

}  // namespace kwz_web
