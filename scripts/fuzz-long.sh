#!/usr/bin/env bash
# A long fuzzing run of one target, until a number of executions: builds the targets and
# replays the checked-in corpora through scripts/fuzz.sh, then fuzzes a scratch copy of the
# target's corpus in libFuzzer's fork mode, one job per core, and prints the executions, the
# rate and the wall time. A finding stops the run and fails the script; its input is left in
# build/fuzz/artifacts/<target>-long/.
#
#   scripts/fuzz-long.sh <target> <executions> [jobs, default: the number of cores]
#
# KWZ_FUZZ_CODEC=0..4 pins decoder_fuzzer to one codec (MPEG-4, H.264, VP8, VP9, JPEG).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 2 ] || ! [[ "$2" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz-long.sh <target> <executions> [jobs]" >&2
  exit 2
fi
target="$1"
executions="$2"
jobs="${3:-$(nproc)}"
case "$target" in
  *_fuzzer) ;;
  *) target="${target}_fuzzer" ;;
esac

codec="${KWZ_FUZZ_CODEC-}"
scripts/fuzz.sh 0 "$target"
source scripts/fuzz-env.sh
[ -z "$codec" ] || export KWZ_FUZZ_CODEC="$codec"

name="$target${codec:+-codec$codec}-long"
artifacts="build/fuzz/artifacts/$name"
work="build/fuzz/work/$name"
rm -rf "$work" "$artifacts"
mkdir -p "$work" "$artifacts"
cp -r "fuzz/corpus/$target/." "$work/"

start=$SECONDS
status=0
"build/fuzz/fuzz/$target" "${fuzz_common[@]}" -fork="$jobs" -runs="$executions" \
  -ignore_crashes=0 -ignore_timeouts=0 -ignore_ooms=0 \
  -max_len="$(max_len "$target")" -artifact_prefix="$artifacts/" "$work" \
  >"$artifacts/fuzz.log" 2>&1 || status=$?
wall=$((SECONDS - start))
# Fork mode's progress lines start with "#<executions>:". A time-out or memory blow-up is a
# finding here too, although fork mode would pass over them by default.
done_runs=$(grep -o '^#[0-9]*' "$artifacts/fuzz.log" | tail -1 | tr -d '#')
if [ "$status" -ne 0 ] || ls "$artifacts" | grep -qE '^(crash|leak|timeout|oom)-'; then
  tail -60 "$artifacts/fuzz.log" >&2
  echo "=== fuzz-long: $name found a fault after ${done_runs:-?} executions; see $artifacts/" >&2
  exit 1
fi
echo "=== fuzz-long: $name ${done_runs:-?} executions in $wall s" \
  "($(( ${done_runs:-0} / (wall > 0 ? wall : 1) ))/s, $jobs jobs), no findings"
