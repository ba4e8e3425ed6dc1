// The base of every UDP endpoint of the system: Winsock for its own lifetime, one RTP endpoint,
// the two events a receiving thread waits on, an optional tunnel in place of the socket, and the
// shared-memory record through which modules of one process hand a socket to each other.
//
// Threads: construction, Open, JoinGroup, AttachTunnel, DetachTunnel and destruction run on the
// thread that sets up and tears down the engine. The receiving thread reads only between a
// successful Open and the stop that precedes DetachTunnel or destruction. No lock is held.
#pragma once

#include "network/CRtpEndpoint.h"
#include "network/ITunnel.h"
#include "platform/winsock.h"

// A shared socket record: word 0 the raw socket handle of the publishing process (0 for none),
// words 1 and 2 reserved and written as 0. Host byte order.
struct SharedSocketRecord {
  DWORD socket;
  DWORD reserved1;
  DWORD reserved2;
};
static_assert(sizeof(SharedSocketRecord) == 12);

constexpr const WCHAR* SHARED_SOCKET_AUDIO = u"KWZ_SOCKET_AUDIO";
constexpr const WCHAR* SHARED_SOCKET_VIDEO = u"KWZ_SOCKET_VIDEO";

class CNetwork {
 public:
  // Starts Winsock 2.2; raises exc_CNetwork when that fails.
  CNetwork();
  // Closes the endpoint, the shared record and the own network event, then balances the
  // start-up with one clean-up.
  virtual ~CNetwork();
  CNetwork(const CNetwork&) = delete;
  CNetwork& operator=(const CNetwork&) = delete;

  // Not owned; null means the endpoint uses its own socket. Set before Open.
  void SetTunnelFactory(ITunnelFactory* factory) { m_pTunnelFactory = factory; }
  ITunnelFactory* GetTunnelFactory() const { return m_pTunnelFactory; }
  // True once Open got as far as a socket to wait on; an endpoint that is not opened has
  // nothing to wait for, and its receiving wait fails at once.
  bool IsOpened() const { return m_bOpened != 0; }

  // flagsAndPort: bits 0-15 the local UDP port (even), OPEN_PUBLISH_* and OPEN_ADOPT_* above.
  // localAddress: dotted IPv4 text, "0.0.0.0" for every interface. stopEvent: becomes wait event
  // [1], owned by the caller. Raises exc_CNetwork for a missing or unparsable address (and the
  // record's exceptions); otherwise returns 0 or an RTPERR_ code.
  int Open(DWORD flagsAndPort, const char* localAddress, HANDLE stopEvent);
  // Joins a multicast group (dotted IPv4 text) on the endpoint's local address. With a tunnel
  // there is nothing to join and 0 is returned. RTPERR_OUT_OF_MEMORY before a successful Open.
  int JoinGroup(const char* groupAddress);
  // With a tunnel factory: replaces any tunnel instance with a new receiving one and waits on
  // its event from then on. Without one: nothing.
  void AttachTunnel();
  // Hands the tunnel instance back to the factory, if there is one.
  void DetachTunnel();

  // The receiving primitive: waits at most timeout ms for a datagram or the stop event (which
  // wins when both are signalled; without a tunnel instance, for the stop event alone), then
  // reads and parses one datagram into buffer (capacity *length, at least 65535). Returns
  // NET_PACKET with *info describing it, NET_STOPPED (stop event, or the socket was closed),
  // NET_TIMEOUT, NET_WAIT_FAILED, or RTPERR_NO_RTP_DATA when the read after a network event
  // found no usable datagram (the caller simply waits again). Receiving thread only.
  int WaitAndRead(BYTE* buffer, DWORD* length, RtpPacketInfo* info, DWORD timeout);

  // The shared-socket record of this object: at most one mapping per object; the first record
  // operation chooses which name it maps, later ones reuse that view whatever name they give.
  // Each raises its own exception (exc_create_shared_memory, exc_set_shared_socket,
  // exc_get_shared_socket).
  void* create_shared_memory(DWORD size, const WCHAR* name);
  void set_shared_socket(const SharedSocketRecord* record, const WCHAR* name);
  void get_shared_socket(SharedSocketRecord* record, const WCHAR* name);

  // Live CNetwork objects of the process.
  static LONG GetLiveCount();

 protected:
  HANDLE m_hSharedMapping;           // null until the first record operation
  void* m_pSharedView;               // null until the first record operation
  ITunnelFactory* m_pTunnelFactory;  // not owned
  BYTE m_bTunnelOption;              // handed to each tunnel instance
  WSADATA m_wsaData;
  // [0] network: the own WSA event (owned) or the tunnel's event (the tunnel's); [1] stop: the
  // caller's. A receiving wait covers both, network first.
  HANDLE m_hEvents[2];
  SOCKET m_EventSocket;  // the socket whose network events are enumerated after a wait
  CRtpEndpoint m_Endpoint;
  BYTE m_bOpened;
};
