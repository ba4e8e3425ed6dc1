// What the sanitizer builds cannot check, so tests can say so instead of failing falsely.
#pragma once

#if defined(__has_feature)
#define KWZ_HAS_FEATURE(x) __has_feature(x)
#else
#define KWZ_HAS_FEATURE(x) 0
#endif
#if defined(__SANITIZE_THREAD__) || KWZ_HAS_FEATURE(thread_sanitizer)
#define KWZ_UNDER_TSAN 1
#else
#define KWZ_UNDER_TSAN 0
#endif
#if defined(__SANITIZE_ADDRESS__) || KWZ_HAS_FEATURE(address_sanitizer)
#define KWZ_UNDER_ASAN 1
#else
#define KWZ_UNDER_ASAN 0
#endif
#define KWZ_UNDER_SANITIZER (KWZ_UNDER_TSAN || KWZ_UNDER_ASAN)

namespace kwz_test {
// The sanitizer builds report hardware faults and end the process, where the others contain
// them in the faulting thread.
constexpr bool kUnderSanitizer = KWZ_UNDER_SANITIZER != 0;
// Under AddressSanitizer the platform keeps even large buffers on the heap, where their bounds
// are checked, so no display server can read them in place.
constexpr bool kLargeBuffersOnHeap = KWZ_UNDER_ASAN != 0;
}  // namespace kwz_test

// For what ThreadSanitizer does not model: it loses track of a cancelled thread's locks, and of
// a robust mutex taken over from a dead owner by a timed wait. The other builds run these tests.
#define KWZ_SKIP_UNDER_TSAN(why)                                           \
  do {                                                                     \
    if (KWZ_UNDER_TSAN) GTEST_SKIP() << "not under ThreadSanitizer: " why; \
  } while (0)
