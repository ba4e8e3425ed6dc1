#include "fuzz/mutate/InputMutators.h"

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <random>
#include <utility>

#include "fuzz/FuzzSupport.h"
#include "packet/CSSPacket.h"
#include "packet/ScreenPacketFormat.h"

namespace kwz_fuzz {

FramedInput FramedInput::Parse(const std::uint8_t* data, std::size_t size, std::size_t prefixSize,
                               std::size_t sideSize) {
  Reader in(data, size);
  FramedInput input{in.Bytes(prefixSize), {}};
  input.prefix.resize(prefixSize, 0);
  while (!in.Empty()) {
    const std::uint16_t length = in.U16();
    FramedRecord record{in.Bytes(sideSize), {}};
    record.side.resize(sideSize, 0);
    record.data = in.Bytes(length);
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

std::uint32_t GetLe(const Bytes& bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int k = width - 1; k >= 0; --k) value = (value << 8) | bytes[at + k];
  return value;
}

Bytes Deflate(const Bytes& raw, int level) {
  uLongf length = compressBound(static_cast<uLong>(raw.size()));
  Bytes out(length);
  if (compress2(out.data(), &length, raw.data(), static_cast<uLong>(raw.size()), level) != Z_OK)
    return {};
  out.resize(length);
  return out;
}

namespace {

// SplitMix64's finaliser: neighbouring seeds would otherwise pick the same first mutations.
std::uint32_t Mixed(unsigned seed) {
  std::uint64_t z = seed + 0x9E3779B97F4A7C15u;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return static_cast<std::uint32_t>(z ^ (z >> 31));
}

// The generator libFuzzer's seed starts, and the byte mutator.
class MutationContext {
 public:
  MutationContext(ByteMutator bytes, unsigned seed)
      : bytes_(bytes), rng_(Mixed(seed) % std::minstd_rand::modulus | 1) {}

  // Uniform in [0, n); 0 when n is 0.
  std::uint32_t Below(std::uint32_t n) {
    if (n == 0) return 0;
    return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng_);
  }
  bool OneIn(std::uint32_t n) { return Below(n) == 0; }
  std::uint32_t Pick(std::initializer_list<std::uint32_t> values) {
    return values.begin()[Below(static_cast<std::uint32_t>(values.size()))];
  }
  // A value near n: n itself, a neighbour, a power of two's edge or anything at all.
  std::uint32_t Near(std::uint32_t n) {
    switch (Below(6)) {
      case 0:
        return n;
      case 1:
        return n + 1;
      case 2:
        return n - 1;
      case 3:
        return n + Below(16) - 8;
      case 4:
        return (1u << Below(16)) - Below(2);
      default:
        return static_cast<std::uint32_t>(rng_());
    }
  }
  // Hands the bytes to the byte mutator, which may change their length up to maxSize.
  void MutateBytes(Bytes* bytes, std::size_t maxSize) {
    if (maxSize == 0) return;
    const std::size_t size = std::min(bytes->size(), maxSize);
    bytes->resize(std::max<std::size_t>(maxSize, 1));
    bytes->resize(bytes_(bytes->data(), size, maxSize));
  }
  // Duplicates, removes, swaps or moves records; keeps at most maxRecords.
  void ShuffleRecords(std::vector<FramedRecord>* records, std::size_t maxRecords) {
    if (records->empty()) return;
    const std::uint32_t count = static_cast<std::uint32_t>(records->size());
    const std::uint32_t i = Below(count);
    const std::uint32_t j = Below(count);
    switch (Below(4)) {
      case 0:
        if (records->size() < maxRecords) records->insert(records->begin() + j, (*records)[i]);
        break;
      case 1:
        records->erase(records->begin() + i);
        break;
      case 2:
        std::swap((*records)[i], (*records)[j]);
        break;
      default: {
        FramedRecord moved = std::move((*records)[i]);
        records->erase(records->begin() + i);
        records->insert(records->begin() + std::min<std::size_t>(j, records->size()),
                        std::move(moved));
        break;
      }
    }
  }

 private:
  ByteMutator bytes_;
  std::minstd_rand rng_;
};

std::size_t WriteOut(const Bytes& out, std::uint8_t* data, std::size_t maxSize) {
  const std::size_t size = std::min(out.size(), maxSize);
  if (size != 0) std::memmove(data, out.data(), size);
  return size;
}

void PutLe(Bytes* bytes, std::size_t at, int width, std::uint32_t value) {
  for (int k = 0; k < width; ++k) (*bytes)[at + k] = static_cast<std::uint8_t>(value >> (8 * k));
}

std::uint32_t GetBe(const Bytes& bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int k = 0; k < width; ++k) value = (value << 8) | bytes[at + k];
  return value;
}

void PutBe(Bytes* bytes, std::size_t at, int width, std::uint32_t value) {
  for (int k = 0; k < width; ++k)
    (*bytes)[at + k] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - k)));
}

// Splices two framed inputs at a record boundary: a's prefix and first records, then b's
// records from some point on. Returns the size written to out.
std::size_t CrossOverFramed(const std::uint8_t* a, std::size_t aSize, const std::uint8_t* b,
                            std::size_t bSize, std::uint8_t* out, std::size_t maxOutSize,
                            unsigned seed, std::size_t prefixSize, std::size_t sideSize) {
  MutationContext context(nullptr, seed);
  FramedInput first = FramedInput::Parse(a, aSize, prefixSize, sideSize);
  const FramedInput second = FramedInput::Parse(b, bSize, prefixSize, sideSize);
  const auto cut = static_cast<std::uint32_t>(first.records.size());
  first.records.resize(context.Below(cut + 1));
  const auto from = context.Below(static_cast<std::uint32_t>(second.records.size()) + 1);
  first.records.insert(first.records.end(), second.records.begin() + from, second.records.end());
  return WriteOut(first.Serialize(maxOutSize), out, maxOutSize);
}

// Datagram streams.
constexpr std::size_t kPrefix = 6;  // flags, the clock's start, the capacity
constexpr std::size_t kSide = 1;    // the milliseconds that pass after the datagram
constexpr std::size_t kRtpHeader = 12;
constexpr std::size_t kMaxDatagrams = 256;
constexpr std::uint8_t kStructured = 1;

// A header like the one before it: the next sequence number, the same SSRC and timestamp.
Bytes HeaderAfter(const FramedRecord* previous) {
  Bytes header{0x80, screen_packet::kPayloadType, 0, 0, 0, 0, 0x10, 0x01, 0x4B, 0x57, 0x5A, 0x31};
  if (previous != nullptr && previous->data.size() >= kRtpHeader) {
    std::copy(previous->data.begin(), previous->data.begin() + kRtpHeader, header.begin());
    header[1] &= 0x7F;
    PutBe(&header, 2, 2, GetBe(header, 2, 2) + 1);
    header[7] |= 1;
  }
  return header;
}

void MutateRtpHeader(MutationContext& m, std::vector<FramedRecord>* records, std::size_t index) {
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
    case 5: {
      // The timestamp or the SSRC: mostly a neighbour's, else one near its own.
      const std::size_t at = m.OneIn(2) ? 4 : 8;
      if (neighbour != nullptr && !m.OneIn(4)) {
        std::copy(neighbour->begin() + at, neighbour->begin() + at + 4, datagram.begin() + at);
      } else {
        PutBe(&datagram, at, 4, m.Near(GetBe(datagram, at, 4)));
      }
      break;
    }
    case 6:
      datagram[1] = static_cast<std::uint8_t>(
          (datagram[1] & 0x80) | (m.OneIn(2) ? screen_packet::kPayloadType : m.Below(128)));
      break;
    default:
      // Version, padding, extension and CSRC count; padding and extensions need bytes behind.
      datagram[0] = static_cast<std::uint8_t>(m.OneIn(2) ? m.Pick({0x80, 0x81, 0x90, 0xA0, 0xB2})
                                                         : m.Below(256));
      break;
  }
}

// Cuts a datagram's payload in two, as a smaller payload size would; later ones follow on.
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
      MutateRtpHeader(m, &records, index);
      break;
  }
  return WriteOut(input.Serialize(maxSize), data, maxSize);
}

std::size_t CrossOverDatagramInput(const std::uint8_t* a, std::size_t aSize, const std::uint8_t* b,
                                   std::size_t bSize, std::uint8_t* out, std::size_t maxOutSize,
                                   unsigned seed) {
  return CrossOverFramed(a, aSize, b, bSize, out, maxOutSize, seed, kPrefix, kSide);
}

namespace {

constexpr std::size_t kMagicAt = offsetof(ScreenPacketHeader, Magic),
                      kModeAt = offsetof(ScreenPacketHeader, StreamMode),
                      kBytesPerPixelAt = offsetof(ScreenPacketHeader, BytesPerPixel),
                      kWidthAt = offsetof(ScreenPacketHeader, Width),
                      kHeightAt = offsetof(ScreenPacketHeader, Height),
                      kCursorXAt = offsetof(ScreenPacketHeader, CursorX),
                      kCursorYAt = offsetof(ScreenPacketHeader, CursorY),
                      kBlockIndexAt = offsetof(ScreenPacketHeader, BlockIndex),
                      kBodyLengthAt = offsetof(ScreenPacketHeader, BodyLength);
constexpr std::size_t kHeader = screen_packet::kHeaderSize;
constexpr std::size_t kMaxMessages = 8;
constexpr std::uint8_t kModeZlibBlock = 1;
// Well above a 100x100 block at 32 bits, so that longer and shorter blocks are made too.
constexpr std::size_t kMaxInflated = 1 << 16;

Bytes FreshMessage() {
  Bytes message(kHeader, 0);
  PutLe(&message, kMagicAt, 2, screen_packet::kMagic);
  message[kModeAt] = kModeZlibBlock;
  message[kBytesPerPixelAt] = 4;
  PutLe(&message, kWidthAt, 2, 200);
  PutLe(&message, kHeightAt, 2, 150);
  PutLe(&message, kCursorXAt, 2, screen_packet::kNoCursor);
  PutLe(&message, kCursorYAt, 2, screen_packet::kNoCursor);
  message[offsetof(ScreenPacketHeader, Reserved3)] = 1;
  return message;
}

std::uint32_t BlockCount(const Bytes& message) {
  const std::uint32_t across = (GetLe(message, kWidthAt, 2) + 99) / 100;
  const std::uint32_t down = (GetLe(message, kHeightAt, 2) + 99) / 100;
  return across * down;
}

void MutateScreenHeader(MutationContext& m, Bytes* message) {
  switch (m.Below(8)) {
    case 0:
      (*message)[kModeAt] = static_cast<std::uint8_t>(
          m.OneIn(8) ? m.Below(256) : m.Below(screen_packet::kStreamModeCount));
      break;
    case 1:
      (*message)[kBytesPerPixelAt] =
          static_cast<std::uint8_t>(m.OneIn(8) ? m.Below(256) : m.Pick({1, 3, 4}));
      break;
    case 2:
    case 3: {
      const std::size_t at = m.OneIn(2) ? kWidthAt : kHeightAt;
      const std::uint32_t side =
          m.OneIn(3) ? m.Near(GetLe(*message, at, 2))
                     : m.Pick({1, 2, 64, 99, 100, 101, 199, 200, 320, 480, 1000, 1024,
                               screen_packet::kMaxDimension, screen_packet::kMaxDimension + 1});
      PutLe(message, at, 2, side);
      break;
    }
    case 4:
      PutLe(message, kCursorXAt, 2,
            m.OneIn(4) ? screen_packet::kNoCursor : m.Near(GetLe(*message, kWidthAt, 2)));
      PutLe(message, kCursorYAt, 2,
            m.OneIn(4) ? screen_packet::kNoCursor : m.Near(GetLe(*message, kHeightAt, 2)));
      break;
    case 5:
    case 6: {
      const std::uint32_t blocks = BlockCount(*message);
      PutLe(message, kBlockIndexAt, 2, m.OneIn(4) ? m.Near(blocks) : m.Below(blocks + 1));
      break;
    }
    default:
      // Anywhere in the header: the reserved fields, the magic, the image size.
      (*message)[m.Below(kHeader)] = static_cast<std::uint8_t>(m.Below(256));
      break;
  }
}

// A zlib block's pixels, changed and deflated again; false when the body does not inflate.
bool MutateZlibBlock(MutationContext& m, Bytes* body) {
  Bytes raw(kMaxInflated);
  uLongf length = kMaxInflated;
  if (uncompress(raw.data(), &length, body->data(), body->size()) != Z_OK) return false;
  raw.resize(length);
  m.MutateBytes(&raw, kMaxInflated);
  // Mostly the presenter's fast level; the others make stored and best-compressed streams.
  Bytes deflated = Deflate(raw, static_cast<int>(m.Pick({1, 1, 1, 0, 6, 9})));
  if (deflated.empty() || deflated.size() > 0xFFFF - kHeader) return false;
  *body = std::move(deflated);
  return true;
}

void MutateBody(MutationContext& m, Bytes* message, std::size_t room) {
  Bytes body(message->begin() + kHeader, message->end());
  const bool zlib = (*message)[kModeAt] == kModeZlibBlock;
  if (!zlib || m.OneIn(4) || !MutateZlibBlock(m, &body)) {
    m.MutateBytes(&body, std::min<std::size_t>(room, 0xFFFF - kHeader));
  }
  message->resize(kHeader);
  message->insert(message->end(), body.begin(), body.end());
}

}  // namespace

std::size_t MutateScreenInput(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                              unsigned seed, ByteMutator bytes) {
  MutationContext m(bytes, seed);
  if (m.OneIn(16)) {
    // The whole input as bytes, so that nothing is out of reach.
    Bytes whole(data, data + size);
    m.MutateBytes(&whole, maxSize);
    return WriteOut(whole, data, maxSize);
  }
  FramedInput input = FramedInput::Parse(data, size, 1, 0);
  if (input.records.empty() || m.OneIn(16)) {
    input.records.push_back({{}, FreshMessage()});
  }
  std::size_t room = maxSize > size ? maxSize - size : 0;
  const std::uint32_t choice = m.Below(16);
  if (choice == 0) {
    input.prefix[0] = static_cast<std::uint8_t>(m.Below(256));
  } else if (choice <= 2) {
    m.ShuffleRecords(&input.records, kMaxMessages);
  } else if (choice == 3) {
    // One message takes another's geometry, as the messages of one screen share it.
    const auto count = static_cast<std::uint32_t>(input.records.size());
    const Bytes& from = input.records[m.Below(count)].data;
    Bytes& to = input.records[m.Below(count)].data;
    if (&from != &to && from.size() >= kHeader && to.size() >= kHeader)
      std::copy(from.begin() + kModeAt, from.begin() + kCursorXAt, to.begin() + kModeAt);
  } else {
    Bytes& message = input.records[m.Below(static_cast<std::uint32_t>(input.records.size()))].data;
    if (message.size() < kHeader) {
      Bytes fresh = FreshMessage();
      fresh.insert(fresh.end(), message.begin(), message.end());
      message = std::move(fresh);
    }
    room += message.size() - kHeader;
    if (choice <= 8) {
      MutateScreenHeader(m, &message);
    } else {
      MutateBody(m, &message, room);
    }
    // Now and then a body length that disagrees, which the receiver must drop.
    if (!m.OneIn(32)) PutLe(&message, kBodyLengthAt, 2, (message.size() - kHeader) & 0xFFFF);
  }
  return WriteOut(input.Serialize(maxSize), data, maxSize);
}

std::size_t CrossOverScreenInput(const std::uint8_t* a, std::size_t aSize, const std::uint8_t* b,
                                 std::size_t bSize, std::uint8_t* out, std::size_t maxOutSize,
                                 unsigned seed) {
  return CrossOverFramed(a, aSize, b, bSize, out, maxOutSize, seed, 1, 0);
}

}  // namespace kwz_fuzz
