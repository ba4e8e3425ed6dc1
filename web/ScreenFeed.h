// The gateway's receiving side: one screen stream received through the receiver's own
// endpoint (reordering, reassembly and acceptance as a viewer does them) on a thread of its own.
// Every accepted message goes to the sink as a frame for browsers that decode it themselves;
// video frames of the modes that some browser cannot decode are also re-coded as blocks
// (VideoToBlocks) and go to the sink marked as decoded.
//
// Threads: Open, Start, Stop and the destructor on the owner's thread; the sink is called on
// the feed's own thread; SetDecodedModes and the counters from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "web/BrowserFrame.h"

namespace kwz_web {

struct StreamSource {
  std::string address = "0.0.0.0";  // the local address (interface) to receive on
  std::uint16_t port = 0;
  std::optional<std::string> group;  // a multicast group joined on that interface
};

// The receiving side keeps the platform's Win32 headers out of this header: the network code
// of the browsers' side includes the system's own socket headers, which they would clash with.
class ScreenFeed {
 public:
  using Sink = std::function<void(const BrowserFramePtr& frame, bool decoded)>;

  explicit ScreenFeed(Sink sink);
  ~ScreenFeed();
  ScreenFeed(const ScreenFeed&) = delete;
  ScreenFeed& operator=(const ScreenFeed&) = delete;

  // Opens the endpoint. False when the address is not a dotted IPv4 address, the group is not
  // a multicast group, or the port cannot be had (another program holds it without sharing).
  bool Open(const StreamSource& source);
  bool Start();
  bool Stop();

  // Bit n set: frames of stream mode n are also re-coded as blocks. A mode whose bit rises
  // catches up from the last key frame, so its first decoded picture is the current one.
  void SetDecodedModes(std::uint32_t modes);

  // Datagrams lost and received since Open.
  std::uint64_t Lost() const;
  std::uint64_t Received() const;

 private:
  class Thread;
  std::unique_ptr<Thread> m_thread;
};

}  // namespace kwz_web
