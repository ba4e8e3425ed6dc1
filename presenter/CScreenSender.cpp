#include "presenter/CScreenSender.h"

namespace presenter {
namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// Host-order address of a dotted IPv4 text; false for anything else ("255.255.255.255" is not
// a destination we send to).
bool ParseAddress(const std::string& text, std::uint32_t* hostOrder) {
  const ULONG network = inet_addr(text.c_str());
  if (text.empty() || network == INADDR_NONE) return false;
  *hostOrder = ntohl(network);
  return true;
}

void Fail(LONG line, const WCHAR* message) {
  throw exc_screen_sender(u"CScreenSender.cpp", line, message,
                          static_cast<DWORD>(WSAGetLastError()));
}

}  // namespace

bool IsMulticastAddress(std::uint32_t hostOrderAddress) {
  return (hostOrderAddress >> 28) == 0xE;
}

CScreenSender::CScreenSender(const ScreenSenderSettings& settings)
    : m_packetizer(
          RtpPacketizer::Options{settings.ssrc, 0, settings.payloadSize, kScreenPayloadType}) {
  std::uint32_t destination = 0;
  std::uint32_t interfaceAddress = 0;
  if (!ParseAddress(settings.address, &destination)) Fail(__LINE__, u"Bad destination address.");
  if (!ParseAddress(settings.multicastInterface, &interfaceAddress))
    Fail(__LINE__, u"Bad multicast interface address.");
  if (settings.multicastTtl < 0 || settings.multicastTtl > 255)
    Fail(__LINE__, u"The multicast TTL must be 0 to 255.");

  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) Fail(__LINE__, u"WSAStartup failed.");
  m_socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (m_socket == INVALID_SOCKET) {
    WSACleanup();
    Fail(__LINE__, u"No UDP socket.");
  }
  bool ok = true;
  if (IsMulticastAddress(destination)) {
    in_addr viaInterface{};
    viaInterface.s_addr = htonl(interfaceAddress);
    const DWORD ttl = static_cast<DWORD>(settings.multicastTtl);
    ok = setsockopt(m_socket, IPPROTO_IP, IP_MULTICAST_IF,
                    reinterpret_cast<const char*>(&viaInterface), sizeof viaInterface) == 0 &&
         setsockopt(m_socket, IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<const char*>(&ttl),
                    sizeof ttl) == 0;
  }
  // Key frames and full-screen refreshes leave in bursts; a larger send buffer absorbs them.
  const DWORD sendBuffer = 1 << 20;
  setsockopt(m_socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBuffer),
             sizeof sendBuffer);
  if (!ok) {
    closesocket(m_socket);
    WSACleanup();
    Fail(__LINE__, u"The multicast interface or TTL was refused.");
  }
  m_destination.sin_family = AF_INET;
  m_destination.sin_port = htons(settings.port);
  m_destination.sin_addr.s_addr = htonl(destination);
}

CScreenSender::~CScreenSender() {
  closesocket(m_socket);
  WSACleanup();
}

bool CScreenSender::Send(const std::uint8_t* message, std::size_t length, std::uint32_t timestamp) {
  bool ok = true;
  m_packetizer.Packetize(
      message, length, timestamp, [&](const std::uint8_t* datagram, std::size_t size) {
        const int sent =
            sendto(m_socket, reinterpret_cast<const char*>(datagram), static_cast<int>(size), 0,
                   reinterpret_cast<const sockaddr*>(&m_destination), sizeof m_destination);
        if (sent != static_cast<int>(size)) {
          ok = false;
          m_errors.fetch_add(1, kRelaxed);
          return;
        }
        m_datagrams.fetch_add(1, kRelaxed);
        m_bytes.fetch_add(size, kRelaxed);
      });
  m_messages.fetch_add(1, kRelaxed);
  return ok;
}

void CScreenSender::CountFrame(bool skipped) {
  m_frames.fetch_add(1, kRelaxed);
  if (skipped) m_skipped.fetch_add(1, kRelaxed);
}

SenderCounters CScreenSender::Counters() const {
  SenderCounters c;
  c.frames = m_frames.load(kRelaxed);
  c.skippedFrames = m_skipped.load(kRelaxed);
  c.messages = m_messages.load(kRelaxed);
  c.datagrams = m_datagrams.load(kRelaxed);
  c.bytes = m_bytes.load(kRelaxed);
  c.sendErrors = m_errors.load(kRelaxed);
  return c;
}

}  // namespace presenter
