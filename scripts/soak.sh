#!/usr/bin/env bash
# Soak: the flood test for a long run (default 10 minutes) in the plain build, printing the
# engine process's resident size at each minute; the first and the last minute are repeated at
# the end. Not part of the test run. Usage: scripts/soak.sh [minutes]
set -euo pipefail
cd "$(dirname "$0")/.."

minutes="${1:-10}"
scripts/build.sh release
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
status=0
KWZ_FLOOD_SECONDS=$((minutes * 60)) build/release/tests/engine/engine_flood_tests \
  --gtest_filter='Flood.*' | tee "$log" || status=$?
echo "=== soak of $minutes minutes"
grep -E '^flood minute 1:' "$log" || true
grep -E '^flood minute ' "$log" | tail -n 1 || true
grep -E '^flood: ' "$log" || true
exit "$status"
