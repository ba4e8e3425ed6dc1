// What the impairment relay does to a stream of datagrams, and what it counts.
#pragma once

#include <cstdint>

struct ImpairSettings {
  // Share of datagrams lost, 0 to 1. With a mean burst length above 1 the losses come in
  // bursts (Gilbert-Elliott: every datagram of the bad state is lost, none of the good one),
  // with this long-run share.
  double loss = 0;
  double meanBurst = 1;
  double duplicate = 0;  // share of datagrams sent twice
  // Share of datagrams held back until reorderDepth later ones have gone out.
  double reorder = 0;
  std::uint32_t reorderDepth = 3;
  // A held datagram goes out after this long even when too few followed it.
  std::uint32_t holdLimitMs = 500;
  std::uint32_t delayMs = 0;   // added to every datagram
  std::uint32_t jitterMs = 0;  // up to this much more, uniform; may reorder, as on a real link
  std::uint64_t seed = 1;
};

struct ImpairStats {
  std::uint64_t received = 0;    // datagrams pushed in
  std::uint64_t sent = 0;        // datagrams handed out, duplicates included
  std::uint64_t dropped = 0;     // lost at random or by the script
  std::uint64_t duplicated = 0;  // extra copies made
  std::uint64_t reordered = 0;   // held back or swapped
  std::uint64_t truncated = 0;
};
