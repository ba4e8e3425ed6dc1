#!/usr/bin/env bash
# Builds one variant: scripts/build.sh [release|asan|tsan|avc264] [targets...] -> build/<variant>
# avc264 is the release build that decodes H.264 with libavcodec instead of OpenH264; naming
# targets builds only those. The sanitizer builds leave the benchmarks out: they measure
# nothing there.
set -euo pipefail
cd "$(dirname "$0")/.."

variant="${1:-release}"
[ $# -eq 0 ] || shift
h264=openh264
bench=ON
case "$variant" in
  release) sanitize="" ;;
  asan) sanitize="address" bench=OFF ;;
  tsan) sanitize="thread" bench=OFF ;;
  avc264) sanitize="" h264=libavcodec ;;
  *) echo "usage: $0 [release|asan|tsan|avc264] [targets...]" >&2; exit 2 ;;
esac
targets=()
[ $# -eq 0 ] || targets=(--target "$@")

dir="build/$variant"
# ccache, when the machine has it, lets several checkouts of the tree share object files
# (paths are hashed relative to the checkout, so worktrees hit each other's cache).
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKWZ_SANITIZE="$sanitize" \
  -DKWZ_H264_DECODER="$h264" -DKWZ_BENCH="$bench" -DKWZ_WERROR=ON "${launcher[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
