#include "network/CRtpEndpoint.h"

#include "network/NetworkErrors.h"

namespace {

// A socket that keeps announcing data that recvfrom cannot deliver must not hold the
// receiving thread: after this many empty reads the socket counts as having nothing pending.
constexpr int kMaxEmptyReads = 16;

}  // namespace

CRtpEndpoint::CRtpEndpoint() : m_bCreated(0), m_lastSsrc(0), m_sequence{} {}

CRtpEndpoint::~CRtpEndpoint() {
  Close();
}

int CRtpEndpoint::Create(DWORD flagsAndPort, DWORD localAddress, SharedSocketRecord* record,
                         ITunnelFactory* tunnelFactory) {
  if (m_bCreated) return RTPERR_SESSION_ALREADY_INITIALIZED;
  if (int opened = m_socket.Open(flagsAndPort, localAddress, record, tunnelFactory)) return opened;
  ResetSource();
  m_bCreated = 1;
  return 0;
}

int CRtpEndpoint::JoinGroup(DWORD group) {
  if (!m_bCreated) return RTPERR_SESSION_NOT_CREATED;
  return m_socket.JoinGroup(group);
}

void CRtpEndpoint::Close() {
  if (!m_bCreated) return;
  m_bCreated = 0;
  m_socket.Close();
  ResetSource();
}

void CRtpEndpoint::ResetSource() {
  m_lastSsrc = 0;
  m_sequence.Reset();
}

int CRtpEndpoint::Read(BYTE* buffer, DWORD* length, RtpPacketInfo* info) {
  if (buffer == nullptr || length == nullptr || info == nullptr || *length < kMaxDatagram)
    return RTPERR_OUT_OF_MEMORY;
  if (!m_bCreated) return RTPERR_SESSION_NOT_CREATED;
  if (m_socket.GetTunnel() == nullptr && !m_socket.IsOpened()) return RTPERR_SOCKETS_NOT_OPENED;

  // Nothing larger than a UDP datagram arrives; the cap keeps the read length an int.
  const int received = ReceiveDatagram(buffer, *length < 65536 ? *length : 65536);
  if (received <= 0) return RTPERR_NO_RTP_DATA;
  if (!ParseRtpHeader(buffer, static_cast<DWORD>(received), info)) return RTPERR_OUT_OF_MEMORY;
  *length = static_cast<DWORD>(received);

  if (m_sequence.IsInitialised() && info->ssrc != m_lastSsrc) m_sequence.Reset();
  m_lastSsrc = info->ssrc;
  info->extendedSequence = m_sequence.Extend(info->sequence);
  return 0;
}

int CRtpEndpoint::ReceiveDatagram(BYTE* buffer, DWORD capacity) {
  if (ITunnel* tunnel = m_socket.GetTunnel()) {
    TunnelAddress from{};
    const int received = tunnel->Receive(buffer, static_cast<int>(kMaxDatagram), &from);
    // A count beyond what it was given is not trusted with the parse.
    return received > 0 && received <= static_cast<int>(kMaxDatagram) ? received : 0;
  }
  const SOCKET s = m_socket.GetSocket();
  for (int attempt = 0; attempt < kMaxEmptyReads; ++attempt) {
    ULONG pending = 0;
    if (ioctlsocket(s, FIONREAD, &pending) == SOCKET_ERROR) return 0;
    // An empty datagram reports nothing pending yet keeps the socket readable, and would stay
    // in front of every later one; it is read and skipped like any other empty read. The socket
    // does not block: Open selected its network events. The read asks for the whole buffer, so
    // a datagram that arrives after the count was taken is not cut to it.
    sockaddr_in from{};
    int fromLength = sizeof from;
    const int received = recvfrom(s, reinterpret_cast<char*>(buffer), static_cast<int>(capacity), 0,
                                  reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (received > 0) return received;
    if (received < 0 && pending == 0) return 0;  // truly nothing queued
  }
  return 0;
}
