// A fuzz input laid out as a fixed prefix, then records, each a u16 little-endian length, a
// fixed number of side bytes and that many bytes: the layout the message and stream targets
// read. Parsing follows the targets' reader, so a short last record keeps what is left and a
// missing prefix reads as zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kwz_fuzz {

using Bytes = std::vector<std::uint8_t>;

struct FramedRecord {
  Bytes side;  // the fixed bytes between the length and the data
  Bytes data;
};

struct FramedInput {
  Bytes prefix;
  std::vector<FramedRecord> records;

  static FramedInput Parse(const std::uint8_t* data, std::size_t size, std::size_t prefixSize,
                           std::size_t sideSize);
  // The input as a target reads it, cut after the last record that fits maxSize whole (a
  // record longer than 65535 bytes is cut to that).
  Bytes Serialize(std::size_t maxSize) const;
};

}  // namespace kwz_fuzz
