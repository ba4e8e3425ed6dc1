// The RTP endpoint of one CNetwork: the socket layer plus the state of the one source it follows.
// Held by value in CNetwork; created and closed on the thread that opens and destroys the
// endpoint, read by the receiving thread in between.
#pragma once

#include "network/CRtpSocket.h"
#include "network/RtpHeader.h"
#include "network/RtpSequence.h"

class CRtpEndpoint {
 public:
  CRtpEndpoint();
  ~CRtpEndpoint();
  CRtpEndpoint(const CRtpEndpoint&) = delete;
  CRtpEndpoint& operator=(const CRtpEndpoint&) = delete;

  // Opens the socket layer (see CRtpSocket::Open). RTPERR_SESSION_ALREADY_INITIALIZED when the
  // endpoint exists already.
  int Create(DWORD flagsAndPort, DWORD localAddress, SharedSocketRecord* record,
             ITunnelFactory* tunnelFactory);
  // RTPERR_SESSION_NOT_CREATED before Create, else as CRtpSocket::JoinGroup.
  int JoinGroup(DWORD group);
  // Closes the socket layer and forgets the source; harmless when not created.
  void Close();

  // Reads one pending datagram (from the tunnel when one is attached) into buffer, whose
  // capacity *length must be at least kMaxDatagram, parses it and extends its sequence number.
  // *length becomes the datagram's size; info points into buffer. Returns 0, RTPERR_NO_RTP_DATA
  // when nothing is pending, RTPERR_OUT_OF_MEMORY for a bad argument or a malformed datagram,
  // RTPERR_SESSION_NOT_CREATED or RTPERR_SOCKETS_NOT_OPENED. Receiving thread only.
  int Read(BYTE* buffer, DWORD* length, RtpPacketInfo* info);

  static constexpr DWORD kMaxDatagram = 65535;

  // Forgets the followed source and its sequence count, keeping the socket: the next datagram
  // starts a new count even when it carries the old source's identifier. Receiving thread, or
  // while it is stopped.
  void ResetSource();

  bool IsCreated() const { return m_bCreated != 0; }
  CRtpSocket& Socket() { return m_socket; }

 private:
  // One datagram from the socket or the tunnel: its size, or 0 when nothing is pending.
  int ReceiveDatagram(BYTE* buffer, DWORD capacity);

  BYTE m_bCreated;
  CRtpSocket m_socket;
  DWORD m_lastSsrc;  // 0 before the first datagram
  RtpSequence m_sequence;
};
