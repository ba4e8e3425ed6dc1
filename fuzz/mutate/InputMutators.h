// Structure-aware mutators of the message and stream targets, and the libFuzzer hooks that
// install one in a target. Most mutations keep the input plausible, so that they get past the
// first checks: screen messages (screen_message_fuzzer) keep their magic, a known stream mode and
// a BodyLength that matches, and a zlib block is inflated, mutated and deflated again; raw
// datagram streams (rtp_stream_fuzzer) keep RTP version 2, the sender's SSRC, sequence numbers
// near their neighbours' and the marker and first-datagram bit where a message boundary could
// be, and a datagram is now and then split in two. Now and then a field gets a value no sender
// writes. The stream target's structured inputs get byte mutations only.
//
// A mutation repeats for its seed; the byte mutator (libFuzzer's LLVMFuzzerMutate, a stand-in in
// the tests) changes the parts whose structure nobody knows: bodies and payloads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace kwz_fuzz {

using Bytes = std::vector<std::uint8_t>;

struct FramedRecord {
  Bytes side;  // the fixed bytes between the length and the data
  Bytes data;
};

// A fixed prefix, then records, each a u16 little-endian length, a fixed number of side bytes
// and that many bytes. Parsing follows the targets' reader: a short last record keeps what is
// left and a missing prefix reads as zeros.
struct FramedInput {
  Bytes prefix;
  std::vector<FramedRecord> records;

  static FramedInput Parse(const std::uint8_t* data, std::size_t size, std::size_t prefixSize,
                           std::size_t sideSize);
  // Cut after the last record that fits maxSize whole (a record over 65535 bytes is cut to it).
  Bytes Serialize(std::size_t maxSize) const;
};

// Mutates size bytes in place, may grow them up to maxSize, and returns the new size.
using ByteMutator = std::size_t (*)(std::uint8_t* data, std::size_t size, std::size_t maxSize);

// A little-endian field of width bytes inside a byte string that is long enough.
std::uint32_t GetLe(const Bytes& bytes, std::size_t at, int width);

// zlib's compress2 at level (empty if it fails).
Bytes Deflate(const Bytes& raw, int level);

// Each mutator mutates size bytes at data in place, up to maxSize, and returns the new size;
// each cross-over splices two inputs at a record boundary into out.

std::size_t MutateScreenInput(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                              unsigned seed, ByteMutator bytes);
std::size_t CrossOverScreenInput(const std::uint8_t* a, std::size_t aSize, const std::uint8_t* b,
                                 std::size_t bSize, std::uint8_t* out, std::size_t maxOutSize,
                                 unsigned seed);

std::size_t MutateDatagramInput(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                unsigned seed, ByteMutator bytes);
std::size_t CrossOverDatagramInput(const std::uint8_t* a, std::size_t aSize, const std::uint8_t* b,
                                   std::size_t bSize, std::uint8_t* out, std::size_t maxOutSize,
                                   unsigned seed);

}  // namespace kwz_fuzz

// Defines libFuzzer's custom mutator and cross-over of a target from a pair above;
// KWZ_FUZZ_BYTES_ONLY in the environment falls back to libFuzzer's byte mutations, to compare.
#define KWZ_FUZZ_CUSTOM_MUTATOR(mutate, crossOver)                                         \
  extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size,            \
                                          std::size_t maxSize);                            \
  extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,     \
                                                 std::size_t maxSize, unsigned int seed) { \
    static const bool bytesOnly = std::getenv("KWZ_FUZZ_BYTES_ONLY") != nullptr;           \
    if (bytesOnly) return LLVMFuzzerMutate(data, size, maxSize);                           \
    return mutate(data, size, maxSize, seed, &LLVMFuzzerMutate);                           \
  }                                                                                        \
  extern "C" std::size_t LLVMFuzzerCustomCrossOver(                                        \
      const std::uint8_t* a, std::size_t aSize, const std::uint8_t* b, std::size_t bSize,  \
      std::uint8_t* out, std::size_t maxOutSize, unsigned int seed) {                      \
    return crossOver(a, aSize, b, bSize, out, maxOutSize, seed);                           \
  }
