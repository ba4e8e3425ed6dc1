// The RTP endpoint of one CNetwork: the socket layer plus the state of the one source it follows.
// Held by value in CNetwork; created and closed on the thread that opens and destroys the
// endpoint, read by the receiving thread in between.
#pragma once

#include "network/CRtpSocket.h"

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

  bool IsCreated() const { return m_bCreated != 0; }
  CRtpSocket& Socket() { return m_socket; }

 private:
  // Extended sequence numbers of the followed source: cycles counts wraps in steps of 65536.
  struct SequenceState {
    BYTE initialised;
    DWORD cycles;
    DWORD highest;
    DWORD base;
  };

  void ResetSource();

  BYTE m_bCreated;
  CRtpSocket m_socket;
  DWORD m_lastSsrc;  // 0 before the first datagram
  SequenceState m_sequence;
};
