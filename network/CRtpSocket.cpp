#include "network/CRtpSocket.h"

#include "network/CNetwork.h"
#include "network/NetworkErrors.h"

namespace {

bool IsMulticast(DWORD hostOrderAddress) {
  return (hostOrderAddress >> 28) == 0xE;
}

// Memberships and binds take addresses in network order.
ip_mreq MembershipRequest(DWORD group, DWORD localAddress) {
  ip_mreq request{};
  request.imr_multiaddr.s_addr = htonl(group);
  request.imr_interface.s_addr = htonl(localAddress);
  return request;
}

}  // namespace

CRtpSocket::CRtpSocket()
    : m_bOpened(0),
      m_localAddress(0),
      m_pTunnelFactory(nullptr),
      m_localPort(0),
      m_receiveBufferSize(kReceiveBufferSize),
      m_socket(INVALID_SOCKET),
      m_pTunnel(nullptr) {}

CRtpSocket::~CRtpSocket() {
  Close();
}

int CRtpSocket::Open(DWORD flagsAndPort, DWORD localAddress, SharedSocketRecord* record,
                     ITunnelFactory* tunnelFactory) {
  if (tunnelFactory != nullptr && m_pTunnelFactory == nullptr) m_pTunnelFactory = tunnelFactory;
  if (m_bOpened) return RTPERR_CONNECTION_ALREADY_CREATED;

  const DWORD port = flagsAndPort & 0xFFFF;
  const bool publishing = (flagsAndPort & (OPEN_PUBLISH_AUDIO | OPEN_PUBLISH_VIDEO)) != 0;
  const bool adopting = !publishing && (flagsAndPort & (OPEN_ADOPT_AUDIO | OPEN_ADOPT_VIDEO)) != 0;
  m_localAddress = localAddress;

  if (adopting) {
    // Another module of this process bound and configured it; this one only reads from it.
    if (record->socket == 0) return RTPERR_CANT_CREATE_SOCKET;
    m_socket = static_cast<SOCKET>(record->socket);
  } else {
    if (port % 2 != 0) return RTPERR_PORTBASE_NOT_EVEN;
    m_socket = socket(AF_INET, SOCK_DGRAM, 0);
    if (m_socket == INVALID_SOCKET) return RTPERR_CANT_CREATE_SOCKET;
    // The record has room for 32 bits only; socket handles of this process fit.
    if (publishing) record->socket = static_cast<DWORD>(m_socket);

    // A tunnel carries the datagrams: the socket is never read, so it stays unbound.
    if (tunnelFactory == nullptr) {
      const int size = static_cast<int>(m_receiveBufferSize);
      if (setsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size),
                     sizeof size) != 0) {
        CloseSocket();
        return RTPERR_CANT_SET_SOCKET_BUFFER;
      }
      const int reuse = 1;
      setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
                 sizeof reuse);
      sockaddr_in local{};
      local.sin_family = AF_INET;
      local.sin_port = htons(static_cast<USHORT>(port));
      local.sin_addr.s_addr = htonl(localAddress);
      if (bind(m_socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        CloseSocket();
        return RTPERR_CANT_BIND_SOCKET;
      }
    }
  }

  if (m_localAddress == 0 && !DiscoverHostAddress()) {
    CloseSocket();
    return RTPERR_CANT_GET_LOCAL_IP;
  }
  m_localPort = port;
  m_bOpened = 1;
  return 0;
}

// Memberships need one interface address; a socket bound to every interface uses the host's
// first real one.
bool CRtpSocket::DiscoverHostAddress() {
  char name[256] = {};
  if (gethostname(name, 255) != 0) return false;
  hostent* host = gethostbyname(name);
  if (host == nullptr || host->h_addr_list == nullptr) return false;
  for (char** entry = host->h_addr_list; *entry != nullptr; ++entry) {
    const auto* octets = reinterpret_cast<const BYTE*>(*entry);
    if (octets[0] == 127 || octets[0] == 0) continue;
    m_localAddress = (DWORD{octets[0]} << 24) | (DWORD{octets[1]} << 16) | (DWORD{octets[2]} << 8) |
                     DWORD{octets[3]};
    return true;
  }
  return false;
}

int CRtpSocket::JoinGroup(DWORD group) {
  if (!m_bOpened) return RTPERR_SOCKETS_NOT_OPENED;
  if (!IsMulticast(group)) return RTPERR_NOT_MULTICAST_ADDRESS;
  if (int added = m_groups.Add(group)) return added;
  ip_mreq request = MembershipRequest(group, m_localAddress);
  if (setsockopt(m_socket, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&request),
                 sizeof request) != 0) {
    m_groups.Remove(group);
    return RTPERR_CANT_JOIN_GROUP;
  }
  return 0;
}

void CRtpSocket::Close() {
  if (m_pTunnel != nullptr && m_pTunnelFactory != nullptr) m_pTunnelFactory->Release(m_pTunnel);
  m_pTunnel = nullptr;
  m_pTunnelFactory = nullptr;
  if (m_bOpened) {
    m_groups.ResetCursor();
    for (DWORD group; m_groups.NextGroup(&group);) {
      ip_mreq request = MembershipRequest(group, m_localAddress);
      setsockopt(m_socket, IPPROTO_IP, IP_DROP_MEMBERSHIP, reinterpret_cast<const char*>(&request),
                 sizeof request);
    }
    m_bOpened = 0;
    CloseSocket();
  }
  m_groups.Clear();
}

void CRtpSocket::CloseSocket() {
  if (m_socket != INVALID_SOCKET) closesocket(m_socket);
  m_socket = INVALID_SOCKET;
}
