#!/usr/bin/env bash
# Builds one variant: scripts/build.sh [release|asan|tsan] -> build/<variant>
set -euo pipefail
cd "$(dirname "$0")/.."

variant="${1:-release}"
case "$variant" in
  release) sanitize="" ;;
  asan) sanitize="address" ;;
  tsan) sanitize="thread" ;;
  *) echo "usage: $0 [release|asan|tsan]" >&2; exit 2 ;;
esac

dir="build/$variant"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKWZ_SANITIZE="$sanitize" \
  -DKWZ_WERROR=ON >/dev/null
cmake --build "$dir" -j "$(nproc)"
