// Exact faults for the impairment relay, keyed by the 1-based number of a datagram in arrival
// order. Written one per line or separated by ';':
//   drop N            the Nth datagram is lost
//   dup N             the Nth datagram is sent twice
//   swap N M          the Nth datagram goes out right after the Mth (N < M)
//   truncate N K      the Nth datagram keeps its first K bytes
//   seqjump N K       from the Nth datagram on, K is added to the RTP sequence number
//   ssrc N X          from the Nth datagram on, the RTP SSRC is X (decimal or 0x hex)
// '#' starts a comment. Datagrams shorter than an RTP header keep their bytes under seqjump and
// ssrc.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct ImpairAction {
  enum class Kind { kDrop, kDuplicate, kSwap, kTruncate, kSequenceJump, kSsrc };
  Kind kind;
  std::uint64_t n;      // datagram the action applies to (from, for seqjump and ssrc)
  std::uint64_t value;  // M, K or X
};

class ImpairScript {
 public:
  // Parses text; false with *error naming the line at fault, the script then unchanged.
  bool Parse(std::string_view text, std::string* error);
  void Add(const ImpairAction& action) { m_actions.push_back(action); }
  const std::vector<ImpairAction>& Actions() const { return m_actions; }
  bool Empty() const { return m_actions.empty(); }

 private:
  std::vector<ImpairAction> m_actions;
};
