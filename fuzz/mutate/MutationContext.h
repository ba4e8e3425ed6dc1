// What the structure-aware mutators share: a generator seeded by libFuzzer's seed, so that a
// mutation can be repeated, and the byte mutator (libFuzzer's LLVMFuzzerMutate in a target, a
// stand-in in the tests) for the parts whose structure nobody knows: bodies and payloads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <random>
#include <vector>

#include "fuzz/mutate/FramedInput.h"

namespace kwz_fuzz {

// Mutates size bytes in place, may grow them up to maxSize, and returns the new size.
using ByteMutator = std::size_t (*)(std::uint8_t* data, std::size_t size, std::size_t maxSize);

class MutationContext {
 public:
  MutationContext(ByteMutator bytes, unsigned seed);

  // Uniform in [0, n); 0 when n is 0.
  std::uint32_t Below(std::uint32_t n);
  bool OneIn(std::uint32_t n) { return Below(n) == 0; }
  std::uint32_t Pick(std::initializer_list<std::uint32_t> values);
  // A value near n: n itself, a neighbour, a power of two's edge or anything at all.
  std::uint32_t Near(std::uint32_t n);

  // Hands the bytes to the byte mutator, which may change their length up to maxSize.
  void MutateBytes(Bytes* bytes, std::size_t maxSize);

  // Duplicates, removes, swaps or moves records; keeps at most maxRecords.
  void ShuffleRecords(std::vector<FramedRecord>* records, std::size_t maxRecords);

 private:
  ByteMutator bytes_;
  std::minstd_rand rng_;
};

// Splices two framed inputs at a record boundary: a's prefix and first records, then b's
// records from some point on. Returns the size written to out.
std::size_t CrossOverFramed(const std::uint8_t* a, std::size_t aSize, const std::uint8_t* b,
                            std::size_t bSize, std::uint8_t* out, std::size_t maxOutSize,
                            unsigned seed, std::size_t prefixSize, std::size_t sideSize);

// Little-endian fields inside a byte string that is long enough.
std::uint32_t GetLe(const Bytes& bytes, std::size_t at, int width);
void PutLe(Bytes* bytes, std::size_t at, int width, std::uint32_t value);

// Copies out into the caller's buffer, at most maxSize bytes, and returns the size.
std::size_t WriteOut(const Bytes& out, std::uint8_t* data, std::size_t maxSize);

}  // namespace kwz_fuzz
