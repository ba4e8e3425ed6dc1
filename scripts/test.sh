#!/usr/bin/env bash
# Installs the dependencies, builds the three variants and runs their tests: every test in the
# normal and the AddressSanitizer+UndefinedBehaviorSanitizer builds, the thread and concurrency
# suites in the ThreadSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:suppressions=$PWD/scripts/asan.supp"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

jobs="$(nproc)"
run() {
  local variant="$1"; shift
  local start=$SECONDS
  echo "=== $variant: build"
  scripts/build.sh "$variant"
  echo "=== $variant: test"
  ctest --test-dir "build/$variant" --output-on-failure -j "$jobs" "$@"
  echo "=== $variant: $((SECONDS - start)) s"
}

# The flood test runs for 30 s in the plain build; the sanitizer builds keep its short default.
KWZ_FLOOD_SECONDS=30 run release
run asan
run tsan -L concurrency
echo "=== all variants passed in $SECONDS s"
