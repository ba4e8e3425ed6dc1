#!/usr/bin/env bash
# The main job: a presenter on loopback streaming into the viewer.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "The viewer (kwz-viewer) and the presenter (kwz-present) are not built yet. What exists is"
echo "the receiving path below them (sockets and multicast, reassembly, decoders, the drawing"
echo "surface with headless and X11 painting) and the presenter's encoders."
echo "Run scripts/test.sh to build and test what exists."
exit 0
