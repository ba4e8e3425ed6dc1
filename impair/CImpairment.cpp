#include "impair/CImpairment.h"

#include <algorithm>
#include <utility>

namespace {

// RTP fixed header: sequence number at bytes 2-3, SSRC at 8-11, both big-endian.
constexpr std::size_t kRtpHeaderBytes = 12;

}  // namespace

CImpairment::CImpairment(const ImpairSettings& settings, ImpairScript script)
    : m_settings(settings), m_script(std::move(script)), m_random(settings.seed) {}

double CImpairment::Uniform() {
  // 53 random bits, so the draws are the same with every standard library.
  return static_cast<double>(m_random() >> 11) * 0x1.0p-53;
}

bool CImpairment::Lose() {
  const double loss = m_settings.loss;
  if (loss <= 0) return false;
  if (loss >= 1) return true;
  if (m_settings.meanBurst <= 1) return Uniform() < loss;
  // The bad state lasts meanBurst datagrams on average and is entered just often enough for
  // its long-run share to be the loss rate.
  const double leave = 1 / m_settings.meanBurst;
  const double enter = loss * leave / (1 - loss);
  const bool lost = m_badState;
  const double u = Uniform();
  m_badState = m_badState ? !(u < leave) : u < enter;
  return lost;
}

void CImpairment::ApplyRewrites(std::uint64_t n, std::vector<std::uint8_t>* datagram) {
  for (const ImpairAction& a : m_script.Actions()) {
    if (a.n != n) continue;
    if (a.kind == ImpairAction::Kind::kSequenceJump) {
      m_sequenceJump = static_cast<std::uint16_t>(m_sequenceJump + a.value);
    } else if (a.kind == ImpairAction::Kind::kSsrc) {
      m_ssrcSet = true;
      m_ssrc = static_cast<std::uint32_t>(a.value);
    } else if (a.kind == ImpairAction::Kind::kTruncate && a.value < datagram->size()) {
      datagram->resize(static_cast<std::size_t>(a.value));
      ++m_stats.truncated;
    }
  }
  if (datagram->size() < kRtpHeaderBytes) return;
  std::uint8_t* d = datagram->data();
  if (m_sequenceJump != 0) {
    const auto sequence = static_cast<std::uint16_t>(((d[2] << 8) | d[3]) + m_sequenceJump);
    d[2] = static_cast<std::uint8_t>(sequence >> 8);
    d[3] = static_cast<std::uint8_t>(sequence);
  }
  if (m_ssrcSet) {
    for (int i = 0; i < 4; ++i) d[8 + i] = static_cast<std::uint8_t>(m_ssrc >> (24 - 8 * i));
  }
}

void CImpairment::Schedule(std::vector<std::uint8_t> bytes, int copies, std::uint64_t nowMs) {
  std::uint64_t sendMs = nowMs + m_settings.delayMs;
  if (m_settings.jitterMs > 0) sendMs += m_random() % (m_settings.jitterMs + 1ull);
  for (int i = 1; i < copies; ++i) m_scheduled.push({sendMs, m_serial++, bytes});
  m_scheduled.push({sendMs, m_serial++, std::move(bytes)});
}

void CImpairment::ReleaseHeld(std::uint64_t nowMs, bool all) {
  // In the order they were held, so two held datagrams keep their own order.
  for (auto it = m_held.begin(); it != m_held.end();) {
    const bool due = all || nowMs >= it->deadlineMs ||
                     (it->releaseAtCount != 0 && m_stats.received >= it->releaseAtCount) ||
                     (it->afterScheduled != 0 && m_serial >= it->afterScheduled);
    if (!due) {
      ++it;
      continue;
    }
    Schedule(std::move(it->bytes), it->copies, nowMs);
    it = m_held.erase(it);
  }
}

void CImpairment::Push(std::vector<std::uint8_t> datagram, std::uint64_t arrivalMs) {
  arrivalMs = std::max(arrivalMs, m_lastArrivalMs);
  m_lastArrivalMs = arrivalMs;
  const std::uint64_t n = ++m_stats.received;
  ApplyRewrites(n, &datagram);

  bool scriptedDrop = false;
  int copies = 1;
  std::uint64_t swapAfter = 0;
  for (const ImpairAction& a : m_script.Actions()) {
    if (a.n != n) continue;
    if (a.kind == ImpairAction::Kind::kDrop) scriptedDrop = true;
    if (a.kind == ImpairAction::Kind::kDuplicate) ++copies;
    if (a.kind == ImpairAction::Kind::kSwap) swapAfter = std::max(swapAfter, a.value);
  }
  // Every random draw is made whatever the script says, so adding a script entry never shifts
  // the random decisions for the datagrams after it.
  const bool lost = Lose();
  const bool doubled = m_settings.duplicate > 0 && Uniform() < m_settings.duplicate;
  const bool held = m_settings.reorder > 0 && Uniform() < m_settings.reorder;

  if (scriptedDrop || lost) {
    ++m_stats.dropped;
  } else {
    if (doubled) ++copies;
    m_stats.duplicated += static_cast<std::uint64_t>(copies - 1);
    if (swapAfter != 0 || (held && m_settings.reorderDepth > 0)) {
      ++m_stats.reordered;
      Held h{std::move(datagram), copies, swapAfter, 0, arrivalMs + m_settings.holdLimitMs};
      // Copies scheduled so far count the datagrams that went out ahead of this one.
      if (swapAfter == 0) h.afterScheduled = m_serial + m_settings.reorderDepth;
      m_held.push_back(std::move(h));
    } else {
      Schedule(std::move(datagram), copies, arrivalMs);
    }
  }
  ReleaseHeld(arrivalMs, false);
}

void CImpairment::Take(std::uint64_t nowMs, std::vector<ImpairedDatagram>* out) {
  ReleaseHeld(nowMs, false);
  while (!m_scheduled.empty() && m_scheduled.top().sendMs <= nowMs) {
    // top() is const; the bytes are moved out just before the pop that discards them.
    auto& top = const_cast<Scheduled&>(m_scheduled.top());
    out->push_back({std::move(top.bytes), top.sendMs});
    m_scheduled.pop();
    ++m_stats.sent;
  }
}

void CImpairment::Flush(std::vector<ImpairedDatagram>* out) {
  ReleaseHeld(m_lastArrivalMs, true);
  Take(kNothingDue, out);
}

std::uint64_t CImpairment::NextDue() const {
  std::uint64_t due = m_scheduled.empty() ? kNothingDue : m_scheduled.top().sendMs;
  for (const Held& h : m_held) due = std::min(due, h.deadlineMs);
  return due;
}
