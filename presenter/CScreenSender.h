// Sends screen messages as RTP datagrams of payload type 113 over one UDP socket, to a unicast
// address or a multicast group, and counts what went out.
//
// Multicast leaves through the interface given (loopback unless asked otherwise) with the TTL
// given (0 unless asked otherwise: the datagrams never leave the machine).
//
// Ownership and threads: owned by the presenter's sending loop; Send and CountFrame come from
// that one thread. Counters() may be read from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/winsock.h"
#include "presenter/RtpPacketizer.h"
#include "runtime/base_exception.h"

class exc_screen_sender : public base_exception {
 public:
  exc_screen_sender(const WCHAR* file, LONG line, const WCHAR* message, DWORD code)
      : base_exception(file, line, u"screen_sender", message, code) {}
};

namespace presenter {

struct ScreenSenderSettings {
  std::string address = "127.0.0.1";  // dotted IPv4, unicast or a multicast group
  std::uint16_t port = 60004;
  std::string multicastInterface = "127.0.0.1";
  int multicastTtl = 0;
  std::size_t payloadSize = kDefaultPayloadSize;
  std::uint32_t ssrc = 0x4B575A31;
};

struct SenderCounters {
  std::uint64_t frames = 0;
  std::uint64_t skippedFrames = 0;
  std::uint64_t messages = 0;
  std::uint64_t datagrams = 0;
  std::uint64_t bytes = 0;  // UDP payload bytes, RTP headers included
  std::uint64_t sendErrors = 0;
};

bool IsMulticastAddress(std::uint32_t hostOrderAddress);

class CScreenSender {
 public:
  // Opens the socket and sets the multicast options. Raises exc_screen_sender for an address
  // that does not parse, a TTL outside 0..255 or a socket the system refuses.
  explicit CScreenSender(const ScreenSenderSettings& settings);
  ~CScreenSender();
  CScreenSender(const CScreenSender&) = delete;
  CScreenSender& operator=(const CScreenSender&) = delete;

  // Cuts one message into datagrams stamped with timestamp and sends them. False when a
  // datagram could not be sent (the rest of the message is still tried; viewers drop it).
  bool Send(const std::uint8_t* message, std::size_t length, std::uint32_t timestamp);
  // Counts one frame of the source, and whether it went unsent (the encoder skipped it, or the
  // loop fell behind its pace).
  void CountFrame(bool skipped);

  SenderCounters Counters() const;

 private:
  SOCKET m_socket = INVALID_SOCKET;
  sockaddr_in m_destination{};
  RtpPacketizer m_packetizer;
  std::atomic<std::uint64_t> m_frames{0};
  std::atomic<std::uint64_t> m_skipped{0};
  std::atomic<std::uint64_t> m_messages{0};
  std::atomic<std::uint64_t> m_datagrams{0};
  std::atomic<std::uint64_t> m_bytes{0};
  std::atomic<std::uint64_t> m_errors{0};
};

}  // namespace presenter
