#include "fuzz/mutate/InputMutators.h"

#include <algorithm>

#include "fuzz/mutate/FramedInput.h"

namespace kwz_fuzz {
namespace {

constexpr std::size_t kPrefix = 6;  // flags, the clock's start, the capacity
constexpr std::size_t kSide = 1;    // the milliseconds that pass after the datagram
constexpr std::size_t kRtpHeader = 12;
constexpr std::size_t kMaxDatagrams = 256;
constexpr std::uint8_t kStructured = 1;

std::uint32_t GetBe(const Bytes& bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int k = 0; k < width; ++k) value = (value << 8) | bytes[at + k];
  return value;
}

void PutBe(Bytes* bytes, std::size_t at, int width, std::uint32_t value) {
  for (int k = 0; k < width; ++k)
    (*bytes)[at + k] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - k)));
}

// A header like the one before it: the next sequence number, the same SSRC and timestamp.
Bytes HeaderAfter(const FramedRecord* previous) {
  Bytes header{0x80, 113, 0, 0, 0, 0, 0x10, 0x01, 0x4B, 0x57, 0x5A, 0x31};
  if (previous != nullptr && previous->data.size() >= kRtpHeader) {
    std::copy(previous->data.begin(), previous->data.begin() + kRtpHeader, header.begin());
    header[1] &= 0x7F;
    PutBe(&header, 2, 2, GetBe(header, 2, 2) + 1);
    header[7] |= 1;
  }
  return header;
}

void MutateHeader(MutationContext& m, std::vector<FramedRecord>* records, std::size_t index) {
  Bytes& datagram = (*records)[index].data;
  const Bytes* neighbour =
      records->size() > 1 ? &(*records)[m.Below(static_cast<std::uint32_t>(records->size()))].data
                          : nullptr;
  if (neighbour == &datagram || (neighbour != nullptr && neighbour->size() < kRtpHeader))
    neighbour = nullptr;
  switch (m.Below(8)) {
    case 0:
    case 1: {
      const std::uint32_t base =
          neighbour != nullptr ? GetBe(*neighbour, 2, 2) : GetBe(datagram, 2, 2);
      PutBe(&datagram, 2, 2, m.OneIn(4) ? m.Pick({0, 1, 0x7FFF, 0x8000, 0xFFFF}) : m.Near(base));
      break;
    }
    case 2:
      datagram[1] ^= 0x80;  // the marker: a message ends here, or no longer does
      break;
    case 3:
      datagram[7] ^= 1;  // a message starts here, or no longer does
      break;
    case 4:
      if (neighbour != nullptr) {
        std::copy(neighbour->begin() + 4, neighbour->begin() + 8, datagram.begin() + 4);
      } else {
        PutBe(&datagram, 4, 4, m.Near(GetBe(datagram, 4, 4)));
      }
      break;
    case 5:
      if (neighbour != nullptr && !m.OneIn(4)) {
        std::copy(neighbour->begin() + 8, neighbour->begin() + 12, datagram.begin() + 8);
      } else {
        PutBe(&datagram, 8, 4, m.Near(GetBe(datagram, 8, 4)));
      }
      break;
    case 6:
      datagram[1] =
          static_cast<std::uint8_t>((datagram[1] & 0x80) | (m.OneIn(2) ? 113 : m.Below(128)));
      break;
    default:
      // Version, padding, extension and CSRC count; padding and extensions need bytes behind.
      datagram[0] = static_cast<std::uint8_t>(m.OneIn(2) ? m.Pick({0x80, 0x81, 0x90, 0xA0, 0xB2})
                                                         : m.Below(256));
      break;
  }
}

// Cuts a datagram's payload in two, as a smaller payload size would have sent it; the
// datagrams after it keep following on.
void Split(MutationContext& m, std::vector<FramedRecord>* records, std::size_t index) {
  FramedRecord& first = (*records)[index];
  if (first.data.size() < kRtpHeader + 2) return;
  const std::size_t payload = first.data.size() - kRtpHeader;
  const std::size_t cut = kRtpHeader + 1 + m.Below(static_cast<std::uint32_t>(payload - 1));
  FramedRecord second{first.side, HeaderAfter(&first)};
  second.data[1] = first.data[1];  // the marker moves to the second half
  second.data.insert(second.data.end(), first.data.begin() + cut, first.data.end());
  first.data.resize(cut);
  first.data[1] &= 0x7F;
  const std::uint32_t ssrc = GetBe(first.data, 8, 4);
  for (std::size_t k = index + 1; k < records->size(); ++k) {
    Bytes& later = (*records)[k].data;
    if (later.size() >= kRtpHeader && GetBe(later, 8, 4) == ssrc)
      PutBe(&later, 2, 2, GetBe(later, 2, 2) + 1);
  }
  records->insert(records->begin() + index + 1, std::move(second));
}

}  // namespace

std::size_t MutateDatagramInput(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                unsigned seed, ByteMutator bytes) {
  MutationContext m(bytes, seed);
  if ((size > 0 && (data[0] & kStructured) != 0) || m.OneIn(16)) {
    Bytes whole(data, data + size);
    m.MutateBytes(&whole, maxSize);
    return WriteOut(whole, data, maxSize);
  }
  FramedInput input = FramedInput::Parse(data, size, kPrefix, kSide);
  std::vector<FramedRecord>& records = input.records;
  if (records.empty() || m.OneIn(32)) {
    const FramedRecord* last = records.empty() ? nullptr : &records.back();
    records.push_back({Bytes(kSide, 0), HeaderAfter(last)});
  }
  const auto count = static_cast<std::uint32_t>(records.size());
  const std::size_t index = m.Below(count);
  FramedRecord& record = records[index];
  if (record.data.size() < kRtpHeader) {
    Bytes header = HeaderAfter(index > 0 ? &records[index - 1] : nullptr);
    record.data.insert(record.data.begin(), header.begin(), header.end());
  }
  const std::size_t room = (maxSize > size ? maxSize - size : 0) + record.data.size();
  switch (m.Below(12)) {
    case 0:
      input.prefix[m.Below(kPrefix)] = static_cast<std::uint8_t>(m.Below(256));
      input.prefix[0] &= static_cast<std::uint8_t>(~kStructured);
      break;
    case 1:
    case 2:
      m.ShuffleRecords(&records, kMaxDatagrams);
      break;
    case 3:
      record.side[0] = static_cast<std::uint8_t>(m.Pick({0, 1, 50, 255, m.Below(256)}));
      break;
    case 4:
      if (records.size() < kMaxDatagrams) Split(m, &records, index);
      break;
    case 5:
    case 6:
    case 7: {
      Bytes payload(record.data.begin() + kRtpHeader, record.data.end());
      m.MutateBytes(&payload, std::min<std::size_t>(room, 0xFFFF) - kRtpHeader);
      record.data.resize(kRtpHeader);
      record.data.insert(record.data.end(), payload.begin(), payload.end());
      break;
    }
    default:
      MutateHeader(m, &records, index);
      break;
  }
  return WriteOut(input.Serialize(maxSize), data, maxSize);
}

std::size_t CrossOverDatagramInput(const std::uint8_t* a, std::size_t aSize, const std::uint8_t* b,
                                   std::size_t bSize, std::uint8_t* out, std::size_t maxOutSize,
                                   unsigned seed) {
  return CrossOverFramed(a, aSize, b, bSize, out, maxOutSize, seed, kPrefix, kSide);
}

}  // namespace kwz_fuzz
