#include "packet/CPacket.h"

#include <climits>

#include "platform/ipp.h"

namespace {

BYTE* Allocate(DWORD size) {
  if (size == 0 || size > static_cast<DWORD>(INT_MAX)) return nullptr;
  return w7_ippsMalloc_8u(static_cast<int>(size));
}

}  // namespace

CPacket::CPacket(DWORD capacity)
    : m_pData(Allocate(capacity)),
      m_dwCapacity(m_pData != nullptr ? capacity : 0),
      m_dwLength(0),
      m_dwTimestamp(0),
      m_dwSequence(0),
      m_dwLost(0),
      m_bPayloadType(0) {}

CPacket::~CPacket() {
  w7_ippsFree(m_pData);
}

bool CPacket::Grow(DWORD newCapacity) {
  if (newCapacity <= m_dwCapacity) return true;
  BYTE* larger = Allocate(newCapacity);
  if (larger == nullptr) return false;
  w7_ippsFree(m_pData);
  m_pData = larger;
  m_dwCapacity = newCapacity;
  return true;
}
