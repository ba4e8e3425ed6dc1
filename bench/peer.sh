#!/usr/bin/env bash
# The peer a user would pick instead: GStreamer's RTP receiver (udpsrc, rtpjitterbuffer,
# rtph264depay, a decoder, videoconvert to BGRx) fed the same H.264 frames as kwz-viewer
# --headless, each receiver's CPU time per frame side by side. Everything stays on 127.0.0.1.
#
#   bench/peer.sh [--seconds N] [--out FILE]     (default 20 s at 10 fps, 1920x1080)
#
# Our presenter sends its own RTP screen format, which GStreamer does not read, so the peer
# gets the presenter's H.264 frames (written by h264_dump from the same synthetic desktop and
# streamer settings) through FFmpeg's RFC 6184 packetiser at the same pace. CPU is counted
# from the first frame sent to one second after the last, so start-up costs stay out.
# Installs GStreamer's Debian packages itself; not part of CI. Writes one JSON line per
# receiver to FILE (stdout without --out).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=20
out=/dev/stdout
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift ;;
    --out) out="$2"; shift ;;
    *) echo "usage: $0 [--seconds N] [--out FILE]" >&2; exit 2 ;;
  esac
  shift
done
fps=10
size=1920x1080
frames=$((seconds * fps))

packages=(gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
          gstreamer1.0-plugins-bad gstreamer1.0-libav ffmpeg)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "peer: installing ${missing[*]}" >&2
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build=build/release
[ -d "$build" ] || scripts/build.sh release
cmake --build "$build" --target h264_dump kwz-viewer kwz-present kwz-regsvr kwz_screenreceiver \
  >/dev/null

work="$(mktemp -d /tmp/kwz-peer.XXXXXX)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
export ProgramData="$work/machine" XDG_DATA_HOME="$work/user"
"$build/apps/kwz-regsvr/kwz-regsvr" --user "$PWD/$build/control/libkwz_screenreceiver.so" >/dev/null
"$build/bench/h264_dump" "$work/screen.h264" "$frames" "$size" "$fps" 2>/dev/null

ticks=$(getconf CLK_TCK)
# User plus system CPU of a process (its threads included) in ms.
cpu_ms() { awk -v t="$ticks" '{ print ($14 + $15) * 1000 / t }' "/proc/$1/stat"; }

# measure NAME DECODER PID SENDER...: runs the sender against the receiver PID and prints the
# JSON line.
measure() {
  local name="$1" decoder="$2" receiver="$3"; shift 3
  sleep 2  # the receiver is listening before the first frame
  local before after
  before=$(cpu_ms "$receiver")
  "$@" >/dev/null 2>&1
  sleep 1
  after=$(cpu_ms "$receiver")
  kill -INT "$receiver" 2>/dev/null || true
  wait "$receiver" 2>/dev/null || true
  awk -v n="$name" -v d="$decoder" -v b="$before" -v a="$after" -v f="$frames" \
    'BEGIN { printf "{\"receiver\":\"%s\",\"decoder\":\"%s\",\"cpu_ms_per_frame\":%.4f,\"frames\":%d}\n", n, d, (a - b) / f, f }'
}

port=47400
: >"$work/peer.jsonl"

# kwz-viewer, fed by kwz-present at the same size and pace.
port=$((port + 2))
"$build/apps/kwz-viewer/kwz-viewer" --headless --source-address 127.0.0.1 --source-port "$port" \
  --size "$size" --seconds $((seconds + 30)) >/dev/null 2>&1 &
viewer=$!
pids+=("$viewer")
decoder=openh264
grep -q '^KWZ_H264_DECODER:STRING=libavcodec' "$build/CMakeCache.txt" && decoder=avdec_h264
measure kwz-viewer "$decoder" "$viewer" "$build/apps/kwz-present/kwz-present" --mode h264 \
  --dest "127.0.0.1:$port" --size "$size" --fps "$fps" --frames "$frames" >>"$work/peer.jsonl"

for dec in openh264dec avdec_h264; do
  if ! gst-inspect-1.0 "$dec" >/dev/null 2>&1; then
    echo "peer: GStreamer has no $dec; skipped" >&2
    continue
  fi
  port=$((port + 2))
  gst-launch-1.0 -q udpsrc address=127.0.0.1 port="$port" \
    caps="application/x-rtp,media=video,clock-rate=90000,encoding-name=H264,payload=96" \
    ! rtpjitterbuffer ! rtph264depay ! h264parse ! "$dec" ! videoconvert \
    ! video/x-raw,format=BGRx ! fakesink sync=false >/dev/null 2>&1 &
  gst=$!
  pids+=("$gst")
  measure gstreamer "${dec%dec}" "$gst" ffmpeg -hide_banner -loglevel error -re \
    -framerate "$fps" -f h264 -i "$work/screen.h264" -c copy -f rtp -payload_type 96 \
    "rtp://127.0.0.1:$port?pkt_size=1400" >>"$work/peer.jsonl"
done
cat "$work/peer.jsonl" >"$out"
