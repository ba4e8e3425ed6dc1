#!/usr/bin/env bash
# The peers a user would pick instead, fed the same H.264 frames as kwz-viewer --headless, each
# receiver's CPU time per frame side by side:
#   - kwz-viewer from each build variant named (default: release, which decodes H.264 with
#     OpenH264, and avc264, which decodes it with libavcodec; each built if missing);
#   - GStreamer's RTP receiver (udpsrc, rtpjitterbuffer, rtph264depay, openh264dec or
#     avdec_h264, videoconvert to BGRx);
#   - FFmpeg's own RTP receiver: ffmpeg reading an SDP, decoding with its native h264 decoder,
#     converting each frame to BGRA and writing it to /dev/null (and, for reference, dropping
#     it unwritten).
# Everything stays on 127.0.0.1.
#
#   bench/peer.sh [--seconds N] [--rounds N] [--variant NAME]... [--out FILE]
#
# Default: 20 s at 10 fps, 1920x1080, one round (each further round measures every receiver
# again, in turn).
#
# Our presenter sends its own RTP screen format, which the peers do not read, so they get the
# presenter's H.264 frames (written by h264_dump from the same synthetic desktop and streamer
# settings) through FFmpeg's RFC 6184 packetiser at the same pace. Each sender starts once its
# receiver holds the port and has gone idle; CPU is counted from the first frame sent to one
# second after the last, so start-up costs stay out. Frames decoded are counted where the
# receiver tells them (GStreamer's sink, ffmpeg's progress; kwz-viewer tells its datagram loss
# instead), and a receiver that decoded fewer frames than were sent is reported on stderr.
# Installs GStreamer's and FFmpeg's Debian packages itself; not part of CI. Writes one JSON line
# per receiver to FILE (stdout without --out).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=20
rounds=1
out=/dev/stdout
variants=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift ;;
    --rounds) rounds="$2"; shift ;;
    --variant) variants+=("$2"); shift ;;
    --out) out="$2"; shift ;;
    *) echo "usage: $0 [--seconds N] [--rounds N] [--variant NAME]... [--out FILE]" >&2
       exit 2 ;;
  esac
  shift
done
[ ${#variants[@]} -gt 0 ] || variants=(release avc264)
# ffmpeg decodes what it held while probing (some 3 s of stream) within the measured span only
# if the stream is well longer than that.
if [ "$seconds" -lt 10 ]; then
  echo "peer: under 10 s, part of ffmpeg's decoding falls outside the count" >&2
fi
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

targets=(h264_dump kwz-viewer kwz-present kwz-regsvr kwz_screenreceiver)
for variant in "${variants[@]}"; do
  if [ -f "build/$variant/CMakeCache.txt" ]; then
    cmake --build "build/$variant" --target "${targets[@]}" >/dev/null
  else
    scripts/build.sh "$variant" "${targets[@]}" >&2
  fi
done

work="$(mktemp -d /tmp/kwz-peer.XXXXXX)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
export ProgramData="$work/machine" XDG_DATA_HOME="$work/user"
"build/${variants[0]}/bench/h264_dump" "$work/screen.h264" "$frames" "$size" "$fps" 2>/dev/null

ticks=$(getconf CLK_TCK)
# User plus system CPU of a process (its threads included) in ms.
cpu_ms() { awk -v t="$ticks" '{ print ($14 + $15) * 1000 / t }' "/proc/$1/stat"; }

# listening PID PORT: whether PID holds a UDP socket bound to PORT.
listening() {
  local inode
  for inode in $(awk -v p=":$(printf '%04X' "$2")" 'substr($2, length($2) - 4) == p { print $10 }' \
    /proc/net/udp); do
    ls -l "/proc/$1/fd" 2>/dev/null | grep -qF "socket:[$inode]" && return 0
  done
  return 1
}

# wait_ready PID PORT: waits (10 s at most) until the receiver PID listens on PORT, then until
# its start-up work is over (no CPU time in 0.3 s, 3 s at most). Fails if it never listens.
wait_ready() {
  local tries=0 last=-1 now
  until listening "$1" "$2"; do
    kill -0 "$1" 2>/dev/null && [ $((tries += 1)) -le 100 ] || return 1
    sleep 0.1
  done
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    now=$(cpu_ms "$1")
    [ "$now" = "$last" ] && return 0
    last=$now
    sleep 0.3
  done
}

# finish PID SIGNAL: sends SIGNAL (none: "-") and waits 10 s at most for PID to end, then kills it.
finish() {
  [ "$2" = - ] || kill "-$2" "$1" 2>/dev/null || true
  for _ in $(seq 100); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

# measure PID PORT SENDER...: once the receiver PID is ready on PORT, runs the sender and sets
# cpu to the receiver's CPU ms per frame sent. Fails if the receiver never listened.
cpu=0
measure() {
  local receiver="$1" port="$2" before after
  shift 2
  if ! wait_ready "$receiver" "$port"; then
    echo "peer: receiver $receiver never listened on port $port" >&2
    return 1
  fi
  before=$(cpu_ms "$receiver")
  "$@" >"$work/sender.out" 2>&1
  sleep 1
  if ! after=$(cpu_ms "$receiver" 2>/dev/null); then
    echo "peer: receiver $receiver exited before the end of the stream" >&2
    return 1
  fi
  cpu=$(awk -v b="$before" -v a="$after" -v f="$frames" 'BEGIN { printf "%.4f", (a - b) / f }')
}

# row RECEIVER DECODER LIBRARY DECODED LOSS [SENT]: prints the JSON line (DECODED, LOSS or SENT
# empty: not known; SENT: frames the sender really sent, when it may skip some) and says so on
# stderr when fewer frames were sent or decoded than asked for.
row() {
  if [ -n "${6:-}" ] && [ "$6" -lt "$frames" ]; then
    echo "peer: the sender to $1 ($2) sent $6 of $frames frames" >&2
  fi
  if [ -n "$4" ] && [ "$4" -lt "$frames" ]; then
    echo "peer: $1 ($2) decoded $4 of $frames frames" >&2
  fi
  if [ -n "$5" ] && [ "${5%%/*}" != 0 ]; then
    echo "peer: $1 ($2) lost $5 datagrams (lost/received)" >&2
  fi
  awk -v n="$1" -v d="$2" -v l="$3" -v c="$cpu" -v f="$frames" -v got="$4" -v loss="$5" \
    -v r="$round" -v sent="${6:-}" 'BEGIN {
    printf "{\"receiver\":\"%s\",\"decoder\":\"%s\",\"library\":\"%s\",", n, d, l
    printf "\"cpu_ms_per_frame\":%s,", c
    printf "\"frames\":%d,\"frames_decoded\":%s,\"round\":%d", f, got == "" ? "null" : got, r
    if (loss != "") printf ",\"loss\":\"%s\"", loss
    if (sent != "") printf ",\"frames_sent\":%d", sent
    print "}" }'
}

# The sender of every peer row: FFmpeg's RTP packetiser at the stream's own pace.
send_rtp() {
  ffmpeg -hide_banner -loglevel error -nostdin -re -framerate "$fps" -f h264 \
    -i "$work/screen.h264" -c copy -f rtp -payload_type 96 "rtp://127.0.0.1:$1?pkt_size=1400"
}

port=47400
: >"$work/peer.jsonl"

# kwz-viewer of each variant, fed by that variant's kwz-present at the same size and pace.
# kwz-present skips the frame slots it falls behind on (its summary counts them), so what it
# really sent goes into the row.
viewer_rows() {
  local variant build library viewer
  for variant in "${variants[@]}"; do
    build="build/$variant"
    library=$(sed -n 's/^KWZ_H264_DECODER:STRING=//p' "$build/CMakeCache.txt")
    "$build/apps/kwz-regsvr/kwz-regsvr" --user "$PWD/$build/control/libkwz_screenreceiver.so" \
      >/dev/null
    port=$((port + 2))
    "$build/apps/kwz-viewer/kwz-viewer" --headless --source-address 127.0.0.1 \
      --source-port "$port" --size "$size" --seconds $((seconds + 30)) --get video_pck_lost \
      >"$work/viewer.out" 2>&1 &
    viewer=$!
    pids+=("$viewer")
    if measure "$viewer" "$port" "$build/apps/kwz-present/kwz-present" --mode h264 \
      --dest "127.0.0.1:$port" --size "$size" --fps "$fps" --frames "$frames"; then
      finish "$viewer" INT
      row kwz-viewer "$library" "$library" "" \
        "$(sed -n 's/^video_pck_lost=//p' "$work/viewer.out")" \
        "$(sed -n 's/^kwz-present: \([0-9]*\) frames (\([0-9]*\) skipped).*/\1 \2/p' \
          "$work/sender.out" | awk '{ print $1 - $2 }')" >>"$work/peer.jsonl"
    else
      finish "$viewer" INT
    fi
  done
}

# GStreamer: -e turns the interrupt into an end of stream that drains the decoder, and the sink
# tells each frame it gets (-v prints its last-message).
gstreamer_rows() {
  local dec library gst
  for dec in openh264dec avdec_h264; do
    if ! gst-inspect-1.0 "$dec" >/dev/null 2>&1; then
      echo "peer: GStreamer has no $dec; skipped" >&2
      continue
    fi
    library=openh264
    [ "$dec" = openh264dec ] || library=libavcodec
    port=$((port + 2))
    gst-launch-1.0 -e -v udpsrc address=127.0.0.1 port="$port" \
      caps="application/x-rtp,media=video,clock-rate=90000,encoding-name=H264,payload=96" \
      ! rtpjitterbuffer ! rtph264depay ! h264parse ! "$dec" ! videoconvert \
      ! video/x-raw,format=BGRx ! fakesink sync=false silent=false >"$work/gst.out" 2>&1 &
    gst=$!
    pids+=("$gst")
    if measure "$gst" "$port" send_rtp "$port"; then
      finish "$gst" INT
      row gstreamer "$dec" "$library" "$(grep -c 'last-message = chain' "$work/gst.out" || true)" \
        "" >>"$work/peer.jsonl"
    else
      finish "$gst" INT
    fi
  done
}

# FFmpeg's own RTP receiver, ffmpeg_row OUTPUT. The SDP leaves the parameter sets to the stream,
# as GStreamer's caps do. OUTPUT rawvideo: every decoded frame converted to BGRA by swscale and
# written to /dev/null, which copies each frame into a packet as our paint copies it into the
# window; the goal is judged against this one. OUTPUT null: converted alike, then dropped by the
# null muxer as GStreamer's fakesink drops it (receiver "ffmpeg-null", shown for reference).
# ffmpeg holds the first seconds of stream while it probes (it catches up within the span), and
# its parser and decoder threads hold the last few frames until the stream ends: after the
# measured span an RTCP BYE (after an empty receiver report, as a compound RTCP packet starts)
# ends the session, and ffmpeg drains, writes the final frame count to its progress file and
# exits. The work on those last frames falls outside its count.
ffmpeg_row() {
  local ff name=ffmpeg output=(-pix_fmt bgra -f rawvideo -y /dev/null)
  [ "$1" = rawvideo ] || name=ffmpeg-null output=(-vf format=bgra -f null -)
  port=$((port + 2))
  printf '%s\n' "v=0" "o=- 0 0 IN IP4 127.0.0.1" "s=kwz peer" "c=IN IP4 127.0.0.1" "t=0 0" \
    "m=video $port RTP/AVP 96" "a=rtpmap:96 H264/90000" "a=fmtp:96 packetization-mode=1" \
    >"$work/screen.sdp"
  rm -f "$work/ffmpeg.progress"
  ffmpeg -hide_banner -loglevel error -nostdin -nostats -progress "$work/ffmpeg.progress" \
    -protocol_whitelist file,udp,rtp -localaddr 127.0.0.1 -buffer_size 4194304 \
    -i "$work/screen.sdp" "${output[@]}" 2>"$work/ffmpeg.err" &
  ff=$!
  pids+=("$ff")
  if measure "$ff" "$port" send_rtp "$port"; then
    printf '\x80\xc9\x00\x01\x00\x00\x00\x00\x81\xcb\x00\x01\x00\x00\x00\x00' \
      >"/dev/udp/127.0.0.1/$((port + 1))"
    finish "$ff" -
    row "$name" h264 libavcodec "$(sed -n 's/^frame=//p' "$work/ffmpeg.progress" | tail -n 1)" "" \
      >>"$work/peer.jsonl"
  else
    finish "$ff" INT
  fi
  [ ! -s "$work/ffmpeg.err" ] || sed 's/^/peer: ffmpeg: /' "$work/ffmpeg.err" >&2
}

# Each round measures every receiver once, in turn, so that load from elsewhere on the machine
# falls on all of them alike; bench/report.py takes each receiver's median.
for round in $(seq "$rounds"); do
  viewer_rows
  gstreamer_rows
  ffmpeg_row rawvideo
  ffmpeg_row null
done
cat "$work/peer.jsonl" >"$out"
