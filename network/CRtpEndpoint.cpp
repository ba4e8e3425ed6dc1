#include "network/CRtpEndpoint.h"

#include "network/NetworkErrors.h"

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
  m_sequence = SequenceState{};
}
