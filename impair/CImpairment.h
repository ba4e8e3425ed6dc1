// The decisions of the impairment relay: datagrams go in with their arrival times and come out
// with the times at which they are to be sent, some lost, some doubled, some held back behind
// later ones, some cut short or rewritten, as the settings and the script say. The same seed,
// settings, script and arrivals always give the same output, so a fault found once can be
// replayed.
//
// Works on byte vectors and the caller's millisecond clock only: the relay program feeds it
// from a socket and real time, tests from the presenter's messages and a virtual clock.
// Threads: one object is used by one thread at a time; it holds no lock.
#pragma once

#include <cstdint>
#include <limits>
#include <queue>
#include <random>
#include <vector>

#include "impair/ImpairScript.h"
#include "impair/ImpairSettings.h"

struct ImpairedDatagram {
  std::vector<std::uint8_t> bytes;
  std::uint64_t sendMs;
};

class CImpairment {
 public:
  static constexpr std::uint64_t kNothingDue = std::numeric_limits<std::uint64_t>::max();

  explicit CImpairment(const ImpairSettings& settings, ImpairScript script = {});

  // One datagram arrives. Arrival times must not go backwards.
  void Push(std::vector<std::uint8_t> datagram, std::uint64_t arrivalMs);
  // Appends to *out, in sending order, every datagram due at or before nowMs.
  void Take(std::uint64_t nowMs, std::vector<ImpairedDatagram>* out);
  // Appends everything still waiting, held datagrams included: the end of a run.
  void Flush(std::vector<ImpairedDatagram>* out);
  // When Take would next hand something out; kNothingDue when nothing waits.
  std::uint64_t NextDue() const;

  const ImpairStats& Stats() const { return m_stats; }

 private:
  struct Scheduled {
    std::uint64_t sendMs;
    std::uint64_t serial;  // keeps equal times in scheduling order
    std::vector<std::uint8_t> bytes;
    bool operator>(const Scheduled& other) const {
      return sendMs != other.sendMs ? sendMs > other.sendMs : serial > other.serial;
    }
  };
  struct Held {
    std::vector<std::uint8_t> bytes;
    int copies;
    std::uint64_t releaseAtCount;  // goes out once this many datagrams have arrived...
    std::uint64_t afterScheduled;  // ...or this many more have been scheduled
    std::uint64_t deadlineMs;
  };

  double Uniform();
  bool Lose();
  void ApplyRewrites(std::uint64_t n, std::vector<std::uint8_t>* datagram);
  void Schedule(std::vector<std::uint8_t> bytes, int copies, std::uint64_t nowMs);
  void ReleaseHeld(std::uint64_t nowMs, bool all);

  ImpairSettings m_settings;
  ImpairScript m_script;
  std::mt19937_64 m_random;
  bool m_badState = false;
  std::uint16_t m_sequenceJump = 0;
  bool m_ssrcSet = false;
  std::uint32_t m_ssrc = 0;
  std::uint64_t m_serial = 0;
  std::uint64_t m_lastArrivalMs = 0;
  std::priority_queue<Scheduled, std::vector<Scheduled>, std::greater<>> m_scheduled;
  std::vector<Held> m_held;
  ImpairStats m_stats;
};
