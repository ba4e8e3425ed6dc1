#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UndefinedBehaviorSanitizer +
# libFuzzer) in build/fuzz, replays every checked-in corpus (fuzz/corpus/<target>/), then
# fuzzes each target in turn for N seconds. Any crash, leak, sanitizer report, time-out or
# memory blow-up fails the script; the input that caused it is left in build/fuzz/artifacts/.
#
#   scripts/fuzz.sh [seconds per target, default 30; 0 replays only] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-30}"
shift || true
all_targets=(rtp_packet_fuzzer rtp_stream_fuzzer screen_message_fuzzer zlib_block_fuzzer
  decoder_fuzzer yuv_convert_fuzzer settings_fuzzer)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

# Longest input per target: a datagram, a short stream, a screen message, a block, a clip.
max_len() {
  case "$1" in
    rtp_packet_fuzzer) echo 2048 ;;
    rtp_stream_fuzzer) echo 4096 ;;
    screen_message_fuzzer) echo 70000 ;;
    zlib_block_fuzzer) echo 16384 ;;
    decoder_fuzzer) echo 131072 ;;
    yuv_convert_fuzzer) echo 8192 ;;
    settings_fuzzer) echo 4096 ;;
  esac
}

if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is missing (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
if ! clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a | grep -q /; then
  echo "fuzz: libFuzzer's runtime is missing (libclang-rt-14-dev)" >&2
  exit 1
fi

start=$SECONDS
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKWZ_FUZZ=ON -DKWZ_SANITIZE=address -DKWZ_WERROR=ON "${launcher[@]}" >/dev/null
cmake --build build/fuzz -j "$(nproc)" --target kwz_fuzzers
echo "=== fuzz: build $((SECONDS - start)) s"

# A small quarantine lets the per-input objects reuse memory: with the default one every input
# faults in fresh pages, which costs most targets three quarters of their speed.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:quarantine_size_mb=16:suppressions=$PWD/scripts/asan.supp"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
unset KWZ_FUZZ_CODEC KWZ_DEBUG_OUTPUT
# The control's registry and diagnostic log stay inside the build folder; the in-memory GDI
# backend needs no display.
export ProgramData="$PWD/build/fuzz/programdata" XDG_DATA_HOME="$PWD/build/fuzz/programdata"
export KWZ_GDI_BACKEND=headless
mkdir -p "$ProgramData"
artifacts="build/fuzz/artifacts"
work="build/fuzz/work"
common=(-timeout=20 -rss_limit_mb=2560 -print_final_stats=1)

for target in "${targets[@]}"; do
  bin="build/fuzz/fuzz/$target"
  corpus="fuzz/corpus/$target"
  mkdir -p "$artifacts/$target"
  t0=$SECONDS
  if [ -d "$corpus" ]; then
    "$bin" "${common[@]}" -runs=0 -artifact_prefix="$artifacts/$target/" "$corpus" \
      >"$artifacts/$target/replay.log" 2>&1 || {
      tail -40 "$artifacts/$target/replay.log" >&2
      echo "=== fuzz: $target fails on its checked-in corpus" >&2
      exit 1
    }
    echo "=== fuzz: $target replayed $(find "$corpus" -type f | wc -l) inputs in $((SECONDS - t0)) s"
  fi
  [ "$seconds" -gt 0 ] || continue
  # New inputs go to a scratch copy; the checked-in corpus changes only by a deliberate merge.
  rm -rf "${work:?}/$target"
  mkdir -p "$work/$target"
  [ -d "$corpus" ] && cp -r "$corpus/." "$work/$target/"
  "$bin" "${common[@]}" -max_total_time="$seconds" -max_len="$(max_len "$target")" \
    -artifact_prefix="$artifacts/$target/" "$work/$target" >"$artifacts/$target/fuzz.log" 2>&1 || {
    tail -60 "$artifacts/$target/fuzz.log" >&2
    echo "=== fuzz: $target found a fault; the input is in $artifacts/$target/" >&2
    exit 1
  }
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$artifacts/$target/fuzz.log" | grep -o '[0-9]*$')
  rate=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$artifacts/$target/fuzz.log" | grep -o '[0-9]*$')
  echo "=== fuzz: $target ${runs:-?} runs, ${rate:-?}/s, no findings"
done
echo "=== fuzz: all targets passed in $((SECONDS - start)) s"
