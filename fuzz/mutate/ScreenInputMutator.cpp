#include "fuzz/mutate/InputMutators.h"

#include <zlib.h>

#include <algorithm>

#include "fuzz/mutate/FramedInput.h"
#include "packet/ScreenPacketFormat.h"

namespace kwz_fuzz {
namespace {

// Field offsets of the 29-byte header.
constexpr std::size_t kMagicAt = 0, kModeAt = 2, kBytesPerPixelAt = 3, kWidthAt = 6, kHeightAt = 8,
                      kCursorXAt = 20, kCursorYAt = 22, kBlockIndexAt = 25, kBodyLengthAt = 27;
constexpr std::size_t kHeader = screen_packet::kHeaderSize;
constexpr std::size_t kMaxMessages = 8;
constexpr std::uint8_t kModeZlibBlock = 1;
// Inflated zlib blocks are bounded well above a 100x100 block at 32 bits, so that longer and
// shorter ones than the block are made too.
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
  message[24] = 1;
  return message;
}

std::uint32_t BlockCount(const Bytes& message) {
  const std::uint32_t across = (GetLe(message, kWidthAt, 2) + 99) / 100;
  const std::uint32_t down = (GetLe(message, kHeightAt, 2) + 99) / 100;
  return across * down;
}

void MutateHeader(MutationContext& m, Bytes* message) {
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

bool Inflate(const Bytes& body, Bytes* raw) {
  raw->resize(kMaxInflated);
  uLongf length = kMaxInflated;
  if (uncompress(raw->data(), &length, body.data(), body.size()) != Z_OK) return false;
  raw->resize(length);
  return true;
}

// A zlib block's pixels, changed and deflated again; false when the body does not inflate.
bool MutateZlibBlock(MutationContext& m, Bytes* body) {
  Bytes raw;
  if (!Inflate(*body, &raw)) return false;
  m.MutateBytes(&raw, kMaxInflated);
  uLongf length = compressBound(raw.size());
  Bytes deflated(length);
  // Mostly the presenter's fast level; the others make stored and best-compressed streams.
  const int level = static_cast<int>(m.Pick({1, 1, 1, 0, 6, 9}));
  if (compress2(deflated.data(), &length, raw.data(), raw.size(), level) != Z_OK) return false;
  if (length > 0xFFFF - kHeader) return false;
  deflated.resize(length);
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
      MutateHeader(m, &message);
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
