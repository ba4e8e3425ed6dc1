#include "presenter/CFramePacer.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/kernel.h"

namespace presenter {

CFramePacer::CFramePacer(int frameRate)
    : m_frameRate(std::clamp(frameRate, 1, 1000)), m_startMs(timeGetTime()) {}

std::uint32_t CFramePacer::ElapsedMs() const {
  return timeGetTime() - m_startMs;
}

std::uint32_t CFramePacer::DueMs(std::uint64_t frame) const {
  return static_cast<std::uint32_t>(frame * 1000 / static_cast<std::uint64_t>(m_frameRate));
}

std::uint32_t CFramePacer::WaitForNextFrame() {
  // Elapsed time wraps with the clock; differences stay right for 49 days of sending.
  std::uint32_t now = ElapsedMs();
  std::uint32_t missed = 0;
  // A slot is missed when the following one is already due as well.
  while (static_cast<std::int32_t>(now - DueMs(m_next + 1)) >= 0) {
    ++m_next;
    ++missed;
  }
  const std::int32_t wait = static_cast<std::int32_t>(DueMs(m_next) - now);
  if (wait > 0) Sleep(static_cast<DWORD>(wait));
  ++m_next;
  return missed;
}

}  // namespace presenter
