#!/usr/bin/env bash
# The main job: a presenter on loopback streaming into the viewer.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "The viewer (kwz-viewer) is not built yet. What exists is the receiving path below it"
echo "(sockets and multicast, reassembly, decoders, the drawing surface with headless and X11"
echo "painting) and the presenter, build/release/apps/kwz-present/kwz-present (see --help)."
echo "Run scripts/test.sh to build and test what exists."
exit 0
