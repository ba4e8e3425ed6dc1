#!/usr/bin/env bash
# The main job: a presenter on loopback streaming into the viewer.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "The viewer (kwz-viewer) and the presenter (kwz-present) are not built yet: this project"
echo "currently provides the platform layer and the runtime support they stand on."
echo "Run scripts/test.sh to build and test what exists."
exit 0
