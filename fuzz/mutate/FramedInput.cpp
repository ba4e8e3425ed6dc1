#include "fuzz/mutate/FramedInput.h"

#include <algorithm>

namespace kwz_fuzz {

FramedInput FramedInput::Parse(const std::uint8_t* data, std::size_t size, std::size_t prefixSize,
                               std::size_t sideSize) {
  FramedInput input;
  std::size_t at = std::min(prefixSize, size);
  input.prefix.assign(data, data + at);
  input.prefix.resize(prefixSize, 0);
  while (at < size) {
    FramedRecord record;
    std::size_t length = data[at++];
    if (at < size) length |= std::size_t{data[at++]} << 8;
    const std::size_t side = std::min(sideSize, size - at);
    record.side.assign(data + at, data + at + side);
    record.side.resize(sideSize, 0);
    at += side;
    const std::size_t taken = std::min(length, size - at);
    record.data.assign(data + at, data + at + taken);
    at += taken;
    input.records.push_back(std::move(record));
  }
  return input;
}

Bytes FramedInput::Serialize(std::size_t maxSize) const {
  Bytes out(prefix.begin(), prefix.begin() + std::min(prefix.size(), maxSize));
  for (const FramedRecord& record : records) {
    const std::size_t length = std::min<std::size_t>(record.data.size(), 0xFFFF);
    if (out.size() + 2 + record.side.size() + length > maxSize) break;
    out.push_back(static_cast<std::uint8_t>(length));
    out.push_back(static_cast<std::uint8_t>(length >> 8));
    out.insert(out.end(), record.side.begin(), record.side.end());
    out.insert(out.end(), record.data.begin(), record.data.begin() + length);
  }
  return out;
}

}  // namespace kwz_fuzz
