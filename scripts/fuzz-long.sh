#!/usr/bin/env bash
# A long fuzzing run of one target, until a number of executions: builds the targets and
# replays the checked-in corpora through scripts/fuzz.sh, then fuzzes a scratch copy of the
# target's corpus with one worker per core, and prints the executions, the rate and the wall
# time. A finding stops the run and fails the script; its input is left in
# build/fuzz/artifacts/<target>-long/. Stopped by hand (Ctrl-C; SIGTERM for a run started in
# the background, which ignores SIGINT), it prints the executions so far and exits with 130.
#
#   scripts/fuzz-long.sh <target> <executions> [workers, default: the number of cores]
#
# KWZ_FUZZ_CODEC=0..4 pins decoder_fuzzer to one codec (MPEG-4, H.264, VP8, VP9, JPEG).
# KWZ_FUZZ_RESUME=1 goes on from the scratch corpus of the target's last long run, so that a
# campaign longer than one sitting can be run in parts.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 2 ] || ! [[ "$2" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz-long.sh <target> <executions> [workers]" >&2
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
rm -rf "$artifacts"
if [ "${KWZ_FUZZ_RESUME-}" = 1 ] && [ -d "$work" ]; then
  echo "=== fuzz-long: $name resumes a scratch corpus of $(ls "$work" | wc -l) inputs" >&2
else
  rm -rf "$work"
fi
mkdir -p "$work" "$artifacts"
cp -rn "fuzz/corpus/$target/." "$work/"

start=$SECONDS
# Workers share the corpus folder, each picking up what the others add (libFuzzer's own -jobs
# does the same; its fork mode spends most of its early jobs replaying seeds).
pids=()
for ((w = 0; w < jobs; w++)); do
  share=$((executions / jobs + (w < executions % jobs ? 1 : 0)))
  "build/fuzz/fuzz/$target" "${fuzz_common[@]}" -runs="$share" -max_len="$(max_len "$target")" \
    -artifact_prefix="$artifacts/" "$work" >"$artifacts/worker-$w.log" 2>&1 &
  pids+=($!)
done
# Without job control the workers ignore SIGINT, so a run stopped by hand (or by a time limit)
# passes SIGTERM on: libFuzzer then prints its statistics and exits.
interrupted=0
stop_workers() {
  interrupted=1
  kill -TERM "${pids[@]}" 2>/dev/null || true
}
trap stop_workers INT TERM
failed=0
for ((left = jobs; left > 0; left--)); do
  if ! wait -n; then
    [ "$interrupted" -eq 0 ] || break
    failed=1  # a finding ends the run: the other workers are stopped
    kill "${pids[@]}" 2>/dev/null || true
  fi
done
wait || true  # a signal while waiting ends the wait early; the workers still finish
trap - INT TERM
wall=$((SECONDS - start))
done_runs=0
for ((w = 0; w < jobs; w++)); do
  units=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$artifacts/worker-$w.log" |
    grep -o '[0-9]*$' || echo 0)
  done_runs=$((done_runs + units))
done
# A unit reported slow (10 s) may have been the machine's stall, not the input's: a paused
# virtual machine stalls every worker at once. Each runs again on its own and counts as a finding
# only if it is slow again.
for unit in "$artifacts"/slow-unit-*; do
  [ -e "$unit" ] || continue
  again="$artifacts/again-${unit##*/slow-unit-}.log"
  "build/fuzz/fuzz/$target" "${fuzz_common[@]}" -artifact_prefix="$artifacts/again-" "$unit" \
    >"$again" 2>&1 || continue
  ms=$(grep -o 'in [0-9]* ms' "$again" | grep -o '[0-9]*' | tail -n 1)
  if [ "${ms:-10000}" -lt 10000 ]; then
    mv "$unit" "$artifacts/stall-${unit##*/slow-unit-}"
    echo "=== fuzz-long: ${unit##*/} ran in $ms ms on its own: a stall, not a finding" >&2
  fi
done
if [ "$failed" -ne 0 ] || ls "$artifacts" | grep -qE '^(crash|leak|timeout|oom|slow-unit)-[0-9a-f]*$'; then
  for ((w = 0; w < jobs; w++)); do tail -30 "$artifacts/worker-$w.log" >&2; done
  echo "=== fuzz-long: $name found a fault; see $artifacts/" >&2
  exit 1
fi
if [ "$interrupted" -ne 0 ]; then
  echo "=== fuzz-long: $name stopped after $done_runs executions in $wall s, no findings" >&2
  exit 130
fi
echo "=== fuzz-long: $name $done_runs executions in $wall s" \
  "($((done_runs / (wall > 0 ? wall : 1)))/s, $jobs workers), no findings"
