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
  decoder_fuzzer yuv_convert_fuzzer settings_fuzzer typelib_image_fuzzer browser_input_fuzzer)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

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

source scripts/fuzz-env.sh
unset KWZ_FUZZ_CODEC  # every codec gets its turn
artifacts="build/fuzz/artifacts"
work="build/fuzz/work"

for target in "${targets[@]}"; do
  bin="build/fuzz/fuzz/$target"
  corpus="fuzz/corpus/$target"
  mkdir -p "$artifacts/$target"
  t0=$SECONDS
  if [ -d "$corpus" ]; then
    # Each input runs twice in a row: a target that keeps state across inputs must reset it.
    KWZ_FUZZ_REPEAT=1 "$bin" "${fuzz_common[@]}" -runs=0 -artifact_prefix="$artifacts/$target/" "$corpus" \
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
  "$bin" "${fuzz_common[@]}" -max_total_time="$seconds" -max_len="$(max_len "$target")" \
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
