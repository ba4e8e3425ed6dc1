#!/usr/bin/env bash
# Installs the dependencies, builds the three variants and runs their tests: every test in the
# normal and the AddressSanitizer+UndefinedBehaviorSanitizer builds, the thread and concurrency
# suites in the ThreadSanitizer build, the H.264 decoding suites in a libavcodec build, and the
# fuzz targets (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:suppressions=$PWD/scripts/asan.supp"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

jobs="$(nproc)"
# run <variant> "<targets, or empty for all>" <ctest arguments...>
run() {
  local variant="$1" targets="$2"; shift 2
  local start=$SECONDS
  echo "=== $variant: build"
  # shellcheck disable=SC2086 # the target list splits into words
  scripts/build.sh "$variant" $targets
  echo "=== $variant: test"
  ctest --test-dir "build/$variant" --output-on-failure -j "$jobs" "$@"
  echo "=== $variant: $((SECONDS - start)) s"
}

# The flood test runs its short functional length; scripts/soak.sh judges a long one.
run release ""
run asan ""
run tsan kwz_concurrency_tests -L concurrency

# H.264 through libavcodec instead of OpenH264: the suites that decode it, in a release build of
# only their targets.
start=$SECONDS
echo "=== avc264: build"
avc_tests=(codec/codec_tests codec/codec_mutex_tests engine/engine_surface_tests
           engine/engine_thread_tests)
scripts/build.sh avc264 "${avc_tests[@]##*/}"
echo "=== avc264: test"
# (The engine's defaults cases fork into namespaces of their own and decode nothing.)
for t in "${avc_tests[@]}"; do
  "build/avc264/tests/$t" --gtest_brief=1 --gtest_filter='-Group/EngineDefaults.*'
done
echo "=== avc264: $((SECONDS - start)) s"

# Every checked-in fuzz corpus replayed, then each fuzz target for 30 s: with the clang build
# from nothing this adds about 13 minutes on two cores.
fuzz_start=$SECONDS
scripts/fuzz.sh 30
echo "=== fuzz: $((SECONDS - fuzz_start)) s"
echo "=== all variants passed in $SECONDS s"
