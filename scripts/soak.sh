#!/usr/bin/env bash
# Soak: the flood test for a long run (default 10 minutes) in the plain build. The engine
# process's resident size is sampled every few seconds and judged here: the peak within the
# first sample + 256 MB, and the least sample of the last minute within that of the first
# minute + 16 MB (what stays held raises a minute's floor; what comes and goes does not). Stop
# after the flood must take under 500 ms. Not part of the test run. Usage: scripts/soak.sh [minutes]
set -euo pipefail
cd "$(dirname "$0")/.."

minutes="${1:-10}"
scripts/build.sh release engine_flood_tests
log="$(mktemp)"
samples="$(mktemp)"
trap 'rm -f "$log" "$samples"' EXIT
KWZ_FLOOD_SECONDS=$((minutes * 60)) build/release/tests/engine/engine_flood_tests \
  --gtest_filter='Flood.*' >"$log" 2>&1 &
pid=$!
# Sampling an outside process: there is no event to wait for, only its size over time. The
# samples start when the flood does (the engine running, idle), and a minute's floor counts only
# for the minutes the flood lasts.
while kill -0 "$pid" 2>/dev/null && ! grep -q '^flood: started' "$log"; do sleep 1; done
start=$SECONDS
while kill -0 "$pid" 2>/dev/null; do
  kb="$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)"
  [[ -n "$kb" ]] && echo "$((SECONDS - start)) $kb" >>"$samples"
  sleep 5
done
status=0
wait "$pid" || status=$?
cat "$log"
echo "=== soak of $minutes minutes"
awk -v minutes="$minutes" '
  NR == 1 { idle = $2 }
  { if ($2 > peak) peak = $2
    m = int($1 / 60)
    if (m < minutes && (!(m in least) || $2 < least[m])) least[m] = $2 }
  END {
    printf "resident: idle %d MB, peak %d MB\n", idle / 1024, peak / 1024
    bad = NR == 0 || peak > idle + 256 * 1024
    last = minutes - 1
    if (last >= 1 && (last in least)) {
      printf "least resident: first minute %d MB, last minute %d MB\n", least[0] / 1024, least[last] / 1024
      bad = bad || least[last] > least[0] + 16 * 1024
    }
    exit bad
  }' "$samples" || { echo "soak: resident size out of bounds"; status=1; }
stop_ms="$(sed -n 's/^flood: Stop took \([0-9.]*\) ms$/\1/p' "$log")"
echo "Stop took ${stop_ms:-?} ms"
awk -v ms="${stop_ms:-999999}" 'BEGIN { exit !(ms < 500) }' || { echo "soak: Stop too slow"; status=1; }
exit "$status"
