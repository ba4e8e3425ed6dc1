#include "network/CNetwork.h"

#include <cstring>

#include "network/NetworkErrors.h"
#include "platform/kernel.h"
#include "platform/memoryapi.h"
#include "platform/winerror.h"
#include "runtime/NetResult.h"
#include "runtime/base_exception.h"

namespace {

// The raising unit as this unit's exceptions name it.
constexpr const WCHAR* kSourceFile = u".\\CNetwork";

// Process-wide count of live objects; each holds one Winsock start-up.
volatile LONG g_liveObjects = 0;

}  // namespace

CNetwork::CNetwork()
    : m_hSharedMapping(nullptr),
      m_pSharedView(nullptr),
      m_pTunnelFactory(nullptr),
      m_bTunnelOption(0),
      m_wsaData{},
      m_hEvents{nullptr, nullptr},
      m_EventSocket(INVALID_SOCKET),
      m_bOpened(0) {
  if (WSAStartup(MAKEWORD(2, 2), &m_wsaData) != 0)
    throw exc_CNetwork(kSourceFile, 49, u"WSAStartup failed. ", 0);
  InterlockedIncrement(&g_liveObjects);
}

CNetwork::~CNetwork() {
  m_Endpoint.Close();
  if (m_hSharedMapping != nullptr) CloseHandle(m_hSharedMapping);
  if (m_pSharedView != nullptr) UnmapViewOfFile(m_pSharedView);
  // A tunnel's event belongs to the tunnel; the stop event to the caller of Open.
  if (m_pTunnelFactory == nullptr && m_hEvents[0] != nullptr) WSACloseEvent(m_hEvents[0]);
  InterlockedDecrement(&g_liveObjects);
  WSACleanup();
}

LONG CNetwork::GetLiveCount() {
  return __atomic_load_n(&g_liveObjects, __ATOMIC_RELAXED);
}

int CNetwork::Open(DWORD flagsAndPort, const char* localAddress, HANDLE stopEvent) {
  if (localAddress == nullptr) throw exc_CNetwork(kSourceFile, 79, u"No local address.", 0);
  const ULONG address = inet_addr(localAddress);
  // 255.255.255.255 parses to the same value and is refused with the malformed ones.
  if (address == INADDR_NONE) throw exc_CNetwork(kSourceFile, 85, u"Invalid local address.", 0);

  SharedSocketRecord record{};
  if (flagsAndPort & OPEN_ADOPT_AUDIO) get_shared_socket(&record, SHARED_SOCKET_AUDIO);
  if (flagsAndPort & OPEN_ADOPT_VIDEO) get_shared_socket(&record, SHARED_SOCKET_VIDEO);

  if (int created = m_Endpoint.Create(flagsAndPort, ntohl(address), &record, m_pTunnelFactory))
    return created;

  if (flagsAndPort & OPEN_PUBLISH_AUDIO) set_shared_socket(&record, SHARED_SOCKET_AUDIO);
  if (flagsAndPort & OPEN_PUBLISH_VIDEO) set_shared_socket(&record, SHARED_SOCKET_VIDEO);

  if (!m_Endpoint.IsCreated()) return RTPERR_SESSION_NOT_CREATED;
  m_EventSocket = m_Endpoint.Socket().GetSocket();
  m_bOpened = 1;

  m_hEvents[1] = stopEvent;
  if (m_pTunnelFactory == nullptr) {
    m_hEvents[0] = WSACreateEvent();
    if (m_hEvents[0] == WSA_INVALID_EVENT) return RTPERR_OUT_OF_MEMORY;
    if (WSAEventSelect(m_EventSocket, m_hEvents[0], FD_READ | FD_CLOSE) == SOCKET_ERROR)
      return RTPERR_OUT_OF_MEMORY;
  }
  return 0;
}

int CNetwork::JoinGroup(const char* groupAddress) {
  if (!m_bOpened) return RTPERR_OUT_OF_MEMORY;
  const DWORD group = ntohl(inet_addr(groupAddress));
  if (!m_Endpoint.IsCreated()) return RTPERR_SESSION_NOT_CREATED;
  if (m_pTunnelFactory != nullptr) return 0;  // the tunnel's owner decides what it receives
  return m_Endpoint.JoinGroup(group);
}

void CNetwork::AttachTunnel() {
  if (m_pTunnelFactory == nullptr) return;
  CRtpSocket& socketLayer = m_Endpoint.Socket();
  DetachTunnel();
  ITunnel* tunnel = m_pTunnelFactory->CreateReceiver(TunnelAddress{0, socketLayer.GetLocalPort()});
  socketLayer.SetTunnel(tunnel);
  if (tunnel == nullptr) return;  // no network event: the receiving wait waits for the stop
  tunnel->SetOption(m_bTunnelOption);
  m_hEvents[0] = tunnel->GetEvent();
}

void CNetwork::DetachTunnel() {
  CRtpSocket& socketLayer = m_Endpoint.Socket();
  ITunnel* tunnel = socketLayer.GetTunnel();
  if (tunnel == nullptr || m_pTunnelFactory == nullptr) return;
  m_hEvents[0] = nullptr;  // the event went with the instance
  m_pTunnelFactory->Release(tunnel);
  socketLayer.SetTunnel(nullptr);
}

int CNetwork::WaitAndRead(BYTE* buffer, DWORD* length, RtpPacketInfo* info, DWORD timeout) {
  // The stop event goes first: the wait reports the lowest signalled event, and under a flood
  // the network event is always signalled, so a stop behind it would wait for a quiet moment
  // that may never come. Without a network event (a tunnel factory that gave no instance) the
  // stop event is waited on alone, so the caller waits its time instead of spinning.
  const HANDLE events[2] = {m_hEvents[1], m_hEvents[0]};
  const DWORD count = m_hEvents[0] != nullptr ? 2 : 1;
  const DWORD woken = WSAWaitForMultipleEvents(count, events, FALSE, timeout, FALSE);
  if (woken == WSA_WAIT_EVENT_0) return NET_STOPPED;
  if (woken == WSA_WAIT_TIMEOUT) return NET_TIMEOUT;
  if (woken != WSA_WAIT_EVENT_0 + 1) return NET_WAIT_FAILED;

  if (m_pTunnelFactory == nullptr) {
    WSANETWORKEVENTS events{};
    if (WSAEnumNetworkEvents(m_EventSocket, m_hEvents[0], &events) == SOCKET_ERROR ||
        (events.lNetworkEvents & FD_CLOSE) != 0)
      return NET_STOPPED;
  }
  if (m_Endpoint.Read(buffer, length, info) != 0) return RTPERR_NO_RTP_DATA;
  return NET_PACKET;
}

void* CNetwork::create_shared_memory(DWORD size, const WCHAR* name) {
  if (m_hSharedMapping != nullptr)
    throw exc_create_shared_memory(kSourceFile, 142, u"Can't creare shared memory", 0);
  m_hSharedMapping =
      CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name);
  if (m_hSharedMapping == nullptr)
    throw exc_create_shared_memory(kSourceFile, 151, u"CreateFileMapping", 0);
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  void* view = MapViewOfFile(m_hSharedMapping, FILE_MAP_WRITE, 0, 0, 0);
  if (view == nullptr) throw exc_create_shared_memory(kSourceFile, 161, u"MapViewOfFile", 0);
  if (!existed) std::memset(view, 0, size);
  return view;
}

void CNetwork::set_shared_socket(const SharedSocketRecord* record, const WCHAR* name) {
  if (record == nullptr) throw exc_set_shared_socket(kSourceFile, 172, u"Null pointer", 0);
  if (m_pSharedView == nullptr) m_pSharedView = create_shared_memory(sizeof *record, name);
  std::memcpy(m_pSharedView, record, sizeof *record);
}

void CNetwork::get_shared_socket(SharedSocketRecord* record, const WCHAR* name) {
  if (record == nullptr) throw exc_get_shared_socket(kSourceFile, 187, u"Null pointer", 0);
  if (m_pSharedView == nullptr) m_pSharedView = create_shared_memory(sizeof *record, name);
  std::memcpy(record, m_pSharedView, sizeof *record);
}
