#include "fuzz/mutate/MutationContext.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace kwz_fuzz {

namespace {

// A linear congruential generator's first outputs follow its seed closely, and neighbouring
// seeds would pick the same mutation: the seed is mixed first (SplitMix64's finaliser).
std::uint32_t Mixed(unsigned seed) {
  std::uint64_t z = seed + 0x9E3779B97F4A7C15u;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return static_cast<std::uint32_t>(z ^ (z >> 31));
}

}  // namespace

MutationContext::MutationContext(ByteMutator bytes, unsigned seed)
    : bytes_(bytes), rng_(Mixed(seed) % std::minstd_rand::modulus | 1) {}

std::uint32_t MutationContext::Below(std::uint32_t n) {
  if (n == 0) return 0;
  return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng_);
}

std::uint32_t MutationContext::Pick(std::initializer_list<std::uint32_t> values) {
  return values.begin()[Below(static_cast<std::uint32_t>(values.size()))];
}

std::uint32_t MutationContext::Near(std::uint32_t n) {
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

void MutationContext::MutateBytes(Bytes* bytes, std::size_t maxSize) {
  if (maxSize == 0) return;
  const std::size_t size = std::min(bytes->size(), maxSize);
  bytes->resize(std::max<std::size_t>(maxSize, 1));
  bytes->resize(bytes_(bytes->data(), size, maxSize));
}

void MutationContext::ShuffleRecords(std::vector<FramedRecord>* records, std::size_t maxRecords) {
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

std::uint32_t GetLe(const Bytes& bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int k = width - 1; k >= 0; --k) value = (value << 8) | bytes[at + k];
  return value;
}

void PutLe(Bytes* bytes, std::size_t at, int width, std::uint32_t value) {
  for (int k = 0; k < width; ++k) (*bytes)[at + k] = static_cast<std::uint8_t>(value >> (8 * k));
}

std::size_t WriteOut(const Bytes& out, std::uint8_t* data, std::size_t maxSize) {
  const std::size_t size = std::min(out.size(), maxSize);
  if (size != 0) std::memmove(data, out.data(), size);
  return size;
}

}  // namespace kwz_fuzz
