#!/usr/bin/env bash
# The main job: a presenter on loopback streaming into the viewer.
#
#   scripts/demo.sh [SECONDS] [MODE] [web]     (defaults: 8 seconds, h264)
#
# Installs what is missing, builds in the release variant only what it runs (the three programs
# and the control's module; scripts/test.sh builds the rest), registers the control's module for
# the current user in a registry of the demo's own (nothing outside the demo's folder is
# written), starts kwz-present with the synthetic desktop on 127.0.0.1, and shows the stream
# in kwz-viewer: in an X window when DISPLAY is set, else headless. Either way the viewer writes
# a PNG snapshot of the control window at exit and the path is printed.
#
# With "web" the stream goes to kwz-web instead, which prints the address of its page (open it
# in a browser on this machine while the demo runs); when Chromium is installed the demo also
# opens the page headless and writes what its canvas shows as the PNG snapshot.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-8}"
mode="${2:-h264}"
shown_in="${3:-viewer}"
port="${KWZ_DEMO_PORT:-60004}"

started=$(date +%s)
scripts/install-deps.sh
scripts/build.sh release kwz-present kwz-viewer kwz-regsvr kwz_screenreceiver kwz-web
build=build/release
built=$(date +%s)

demo="$(mktemp -d /tmp/kwz-demo.XXXXXX)"

if [ "$shown_in" = web ]; then
  "$build/apps/kwz-web/kwz-web" --source-address 127.0.0.1 --source-port "$port" \
    --http "127.0.0.1:${KWZ_DEMO_HTTP_PORT:-8080}" >"$demo/web.out" &
  web=$!
  trap 'kill $web 2>/dev/null || true' EXIT
  for _ in $(seq 50); do grep -q http "$demo/web.out" && break; sleep 0.1; done
  url=$(sed -n 's/^kwz-web: //p' "$demo/web.out")
  [ -n "$url" ] || { echo "demo: kwz-web did not start" >&2; exit 1; }
  echo "demo: the stream is shown at $url for $seconds seconds"
  "$build/apps/kwz-present/kwz-present" --mode "$mode" --dest "127.0.0.1:$port" \
    --size 1280x720 --fps 15 --seconds "$seconds" &
  presenter=$!
  if [ -x /usr/bin/chromium ] && /usr/bin/python3 -c "import selenium" 2>/dev/null; then
    /usr/bin/python3 scripts/web_snapshot.py "$url" "$demo/snapshot.png"
    echo "demo: snapshot of the page's canvas: $demo/snapshot.png"
  fi
  wait $presenter
  kill $web
  wait $web || true
  trap - EXIT
  echo "demo: install and build took $((built - started)) s, the demo $(($(date +%s) - built)) s"
  exit 0
fi
# A registry of the demo's own: the machine's store and the user's both below it.
export ProgramData="$demo/machine" XDG_DATA_HOME="$demo/user"
"$build/apps/kwz-regsvr/kwz-regsvr" --user "$PWD/$build/control/libkwz_screenreceiver.so"

viewer_args=(--source-address 127.0.0.1 --source-port "$port" --size 1280x720
             --seconds "$seconds" --snapshot "$demo/snapshot.png" --get video_pck_lost)
if [ -z "${DISPLAY:-}" ]; then
  viewer_args+=(--headless)
  echo "demo: no DISPLAY, so the viewer runs headless for $seconds seconds"
else
  echo "demo: showing the stream on $DISPLAY for $seconds seconds"
fi

"$build/apps/kwz-viewer/kwz-viewer" "${viewer_args[@]}" &
viewer=$!
sleep 1  # the viewer's socket is open before the first frame is sent
"$build/apps/kwz-present/kwz-present" --mode "$mode" --dest "127.0.0.1:$port" --size 1280x720 \
  --fps 15 --seconds "$((seconds - 1))" &
presenter=$!
trap 'kill $viewer $presenter 2>/dev/null || true' EXIT

status=0
wait $presenter || status=$?
wait $viewer || status=$?
trap - EXIT
if [ "$status" -ne 0 ]; then
  echo "demo: failed (status $status)" >&2
  exit "$status"
fi
echo "demo: snapshot of the viewer's window: $demo/snapshot.png"
echo "demo: install and build took $((built - started)) s, the demo $(($(date +%s) - built)) s"
