// Shared pieces of the fuzz targets, on libFuzzer's thread: a forward reader over the input, the
// check that stops a run when a property fails, and the outcome a repeated input must reproduce.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

namespace kwz_fuzz {

// A property of the code under test did not hold: libFuzzer keeps the input that got here.
#define KWZ_FUZZ_CHECK(condition)                                                        \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

// With KWZ_FUZZ_REPEAT set (the corpus replay sets it) a target that keeps state across inputs
// runs each twice and checks both had the same outcome: what it keeps must be reset in between.
inline bool RepeatInputs() {
  static const bool repeat = std::getenv("KWZ_FUZZ_REPEAT") != nullptr;
  return repeat;
}

// What an input did, folded into one number only when inputs are repeated.
class Outcome {
 public:
  template <class... Values>
  void Add(Values... values) {
    if (RepeatInputs())  // FNV-1a over words
      ((hash_ = (hash_ ^ static_cast<std::uint64_t>(values)) * 0x100000001B3u), ...);
  }
  void AddBytes(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < size && RepeatInputs(); ++i) Add(bytes[i]);
  }
  std::uint64_t value() const { return hash_; }

 private:
  std::uint64_t hash_ = 0xCBF29CE484222325u;
};

// Runs an input (run returns its Outcome's value), twice when inputs are repeated.
template <class Run>
void RunInput(Run&& run) {
  const std::uint64_t first = run();
  if (RepeatInputs()) KWZ_FUZZ_CHECK(run() == first);
}

// Reads the input front to back; past its end every number is 0 and every span empty.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t Remaining() const { return size_ - at_; }
  bool Empty() const { return at_ >= size_; }

  std::uint8_t U8() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint16_t U16() {
    const std::uint16_t low = U8();
    return static_cast<std::uint16_t>(low | (U8() << 8));
  }
  std::uint32_t U32() {
    const std::uint32_t low = U16();
    return low | (std::uint32_t{U16()} << 16);
  }
  // Up to n bytes (fewer at the end of the input).
  std::span<const std::uint8_t> Take(std::size_t n) {
    const std::span<const std::uint8_t> span(data_ + at_, n < Remaining() ? n : Remaining());
    at_ += span.size();
    return span;
  }
  std::vector<std::uint8_t> Bytes(std::size_t n) {
    const std::span<const std::uint8_t> span = Take(n);
    return {span.begin(), span.end()};
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace kwz_fuzz
