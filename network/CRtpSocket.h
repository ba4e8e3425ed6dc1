// The socket layer of the RTP endpoint: one IPv4 UDP socket (or the tunnel that replaces it),
// its multicast memberships and the address it serves. Held by value in CRtpEndpoint and used on
// the thread that opens, joins and closes the endpoint; the receiving thread only reads through
// it between a successful open and the close.
#pragma once

#include "network/CMulticastGroupTable.h"
#include "network/ITunnel.h"
#include "platform/winsock.h"

struct SharedSocketRecord;

// Bits of the flags-and-port word of CNetwork::Open above the 16-bit port.
constexpr DWORD OPEN_PUBLISH_AUDIO = 0x10000;
constexpr DWORD OPEN_PUBLISH_VIDEO = 0x20000;
constexpr DWORD OPEN_ADOPT_AUDIO = 0x40000;
constexpr DWORD OPEN_ADOPT_VIDEO = 0x80000;

class CRtpSocket {
 public:
  // The decimal 565535, roughly nine maximal datagrams, so a burst of a whole screen message
  // survives a slow pass of the engine.
  static constexpr DWORD kReceiveBufferSize = 565535;

  CRtpSocket();
  ~CRtpSocket();  // closes what is still open
  CRtpSocket(const CRtpSocket&) = delete;
  CRtpSocket& operator=(const CRtpSocket&) = delete;

  // Creates (or adopts from record word 0) and binds the socket. localAddress is in host order;
  // 0 asks for the host's first address that is not a loopback or zero address. A published
  // socket's handle is written to record word 0. Returns 0 or an RTPERR_ code.
  int Open(DWORD flagsAndPort, DWORD localAddress, SharedSocketRecord* record,
           ITunnelFactory* tunnelFactory);
  // Group in host order. Returns 0 or an RTPERR_ code; a failed join leaves the table unchanged.
  int JoinGroup(DWORD group);
  // Hands the tunnel instance back, drops every membership and closes the socket.
  void Close();

  bool IsOpened() const { return m_bOpened != 0; }
  SOCKET GetSocket() const { return m_socket; }
  DWORD GetLocalAddress() const { return m_localAddress; }
  DWORD GetLocalPort() const { return m_localPort; }
  // The tunnel instance that CNetwork::AttachTunnel made; not owned (the factory takes it back).
  ITunnel* GetTunnel() const { return m_pTunnel; }
  void SetTunnel(ITunnel* tunnel) { m_pTunnel = tunnel; }

 private:
  bool DiscoverHostAddress();
  void CloseSocket();

  BYTE m_bOpened;
  DWORD m_localAddress;              // host order
  ITunnelFactory* m_pTunnelFactory;  // not owned
  DWORD m_localPort;
  DWORD m_receiveBufferSize;
  SOCKET m_socket;
  CMulticastGroupTable m_groups;
  ITunnel* m_pTunnel;  // handed back through m_pTunnelFactory
};
