#!/usr/bin/env bash
# Many viewers of one presenter: N kwz-viewer --headless processes (N = 1, 4, 16) on one
# multicast group on 127.0.0.1, fed by one kwz-present at 1920x1080, each viewer's CPU time per
# frame and its lost and received datagrams. A viewer's cost should not grow with N.
#
#   bench/viewers.sh [--seconds N] [--mode M] [--fps N] [--out FILE]
#                    (default 20 s of zlib at 5 fps, 1920x1080)
#
# The group is the control's own (224.76.12.19), which it joins on its SourceAddress, here
# 127.0.0.1. kwz-viewer --group is not used: with a group named, the control opens on 0.0.0.0
# and joins on the host's first non-loopback address. Before the first frame the script checks
# that the group is joined on lo and on no other interface, or it sends nothing. The presenter
# sends with its defaults, --multicast-if 127.0.0.1 and --ttl 0.
#
# Mode and pace: zlib blocks of 32 bits of the synthetic desktop. A viewer spends about as much
# on them as on H.264 of the same desktop (some 6 ms per frame either way), but they come in ten
# times as many datagrams (about 90 per frame), so whatever a viewer pays per datagram for
# sharing the group shows; and the presenter encodes them in 30 ms per frame, H.264 in 39. At
# 10 fps 16 viewers and the presenter ask for about 1.3 of the machine's 2 cores, and the
# presenter began skipping frames beside other load; at 5 fps they ask for about 0.7, so the
# figures measure the viewers and not their fight for a core.
#
# CPU is utime + stime from /proc/PID/stat (threads included), read just before the first frame
# and one second after the last, so start-up costs stay out, and divided by the frames sent. The
# viewers run at a lower priority than the presenter (nice 5): on the real network they would be
# on other machines, and here they must not make it fall behind. A count where it fell behind all
# the same (other load of the machine) is taken again, up to three tries, as its frames are not
# those of the other counts: the desktop moves on past a missed frame. Loss is the control's own
# count (GetProperties "video_pck_lost": lost/received), printed by kwz-viewer --get at exit; the
# presenter's datagram count is kept beside it, so a lost tail shows too. Writes one JSON line per
# N to FILE (stdout without --out). Expects the control registered (kwz-regsvr); bench/run does
# that, else this registers the build's in a folder of its own.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=20
mode=zlib
fps=5
out=/dev/stdout
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="${2:?--seconds needs a value}"; shift ;;
    --mode) mode="${2:?--mode needs a value}"; shift ;;
    --fps) fps="${2:?--fps needs a value}"; shift ;;
    --out) out="${2:?--out needs a value}"; shift ;;
    *) echo "usage: $0 [--seconds N] [--mode M] [--fps N] [--out FILE]" >&2; exit 2 ;;
  esac
  shift
done
for value in "$seconds" "$fps"; do
  if ! [[ "$value" =~ ^[1-9][0-9]{0,3}$ ]]; then
    echo "viewers: '$value' is not a whole number from 1 to 9999" >&2
    exit 2
  fi
done
: >>"$out"  # an unwritable FILE fails now, not after the run
size=1920x1080
frames=$((seconds * fps))
group=224.76.12.19
group_hex=130C4CE0  # as /proc/net/udp and /proc/net/igmp write it

build=build/release
[ -x "$build/apps/kwz-viewer/kwz-viewer" ] || scripts/build.sh release
cmake --build "$build" --target kwz-viewer kwz-present kwz-regsvr kwz_screenreceiver >/dev/null

work="$(mktemp -d /tmp/kwz-viewers.XXXXXX)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
if [ -z "${XDG_DATA_HOME:-}" ]; then
  export ProgramData="$work/machine" XDG_DATA_HOME="$work/user"
  "$build/apps/kwz-regsvr/kwz-regsvr" --user "$PWD/$build/control/libkwz_screenreceiver.so" \
    >/dev/null
fi

ticks=$(getconf CLK_TCK)
# User plus system CPU of a process (its threads included) in ticks.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# sockets PORT: how many sockets are bound to the group at PORT.
sockets() { grep -c " $group_hex:$(printf '%04X' "$1") " /proc/net/udp || true; }

# joined_elsewhere: the interfaces other than lo that hold the group.
joined_elsewhere() {
  awk -v g="$group_hex" '/^[0-9]/ { device = $2 }
    !/^[0-9]/ && $1 == g && device != "lo" { print device }' /proc/net/igmp | sort -u
}

# measure N PORT TRY: runs N viewers against one presenter and prints the JSON line.
measure() {
  local count="$1" port="$2" try="$3" i viewers=() before=() after=()
  if [ "$(sockets "$port")" != 0 ]; then
    echo "viewers: port $port already has a socket on $group; pick another" >&2
    return 1
  fi
  for ((i = 0; i < count; i++)); do
    nice -n 5 "$build/apps/kwz-viewer/kwz-viewer" --headless --source-address 127.0.0.1 \
      --source-port "$port" --size "$size" --seconds $((seconds + 60)) --get video_pck_lost \
      >"$work/viewer.$count.$i" 2>&1 &
    viewers+=($!)
    pids+=($!)
  done
  # Every viewer has joined once its socket on the group is bound.
  for ((i = 0; i < 200; i++)); do
    [ "$(sockets "$port")" -ge "$count" ] && break
    sleep 0.05
  done
  if [ "$(sockets "$port")" -lt "$count" ]; then
    echo "viewers: only $(sockets "$port") of $count viewers joined $group at port $port" >&2
    cat "$work/viewer.$count."* >&2
    return 1
  fi
  local elsewhere
  elsewhere="$(joined_elsewhere)"
  if [ -n "$elsewhere" ]; then
    echo "viewers: $group is joined on $elsewhere, not only on lo; nothing sent" >&2
    return 1
  fi
  for p in "${viewers[@]}"; do before+=("$(cpu_ticks "$p")"); done
  local TIMEFORMAT="%3U %3S"
  { time "$build/apps/kwz-present/kwz-present" --mode "$mode" --dest "$group:$port" \
      --size "$size" --fps "$fps" --frames "$frames" --multicast-if 127.0.0.1 --ttl 0 \
      >"$work/present.$count" 2>&1; } 2>"$work/present-cpu.$count" || true
  sleep 1
  for p in "${viewers[@]}"; do after+=("$(cpu_ticks "$p")"); done
  for p in "${viewers[@]}"; do kill -INT "$p" 2>/dev/null || true; done
  for p in "${viewers[@]}"; do wait "$p" 2>/dev/null || true; done
  pids=()

  # kwz-present's last line: "F frames (S skipped), M messages, D datagrams, ..."
  local sent skipped present_ms
  sent=$(sed -n 's/.* \([0-9]*\) datagrams,.*/\1/p' "$work/present.$count" | tail -1)
  skipped=$(sed -n 's/.*(\([0-9]*\) skipped).*/\1/p' "$work/present.$count" | tail -1)
  present_ms=$(awk '{ print ($1 + $2) * 1000 }' "$work/present-cpu.$count")
  if [ -z "$sent" ]; then
    echo "viewers: kwz-present failed:" >&2
    cat "$work/present.$count" >&2
    return 1
  fi
  for ((i = 0; i < count; i++)); do
    local loss
    loss=$(sed -n 's/^video_pck_lost=//p' "$work/viewer.$count.$i")
    if [ -z "$loss" ]; then
      echo "viewers: viewer $i of $count reported no loss count:" >&2
      cat "$work/viewer.$count.$i" >&2
      return 1
    fi
    echo "$((after[i] - before[i])) ${loss%/*} ${loss#*/}"
  done | awk -v n="$count" -v m="$mode" -v fps="$fps" -v f="$frames" -v t="$ticks" \
    -v sent="$sent" -v skipped="${skipped:-0}" -v present="$present_ms" -v try="$try" '
    BEGIN { shown = f > skipped ? f - skipped : 1 }
    { ms = $1 * 1000 / t / shown; sum += ms; if (NR == 1 || ms > max) max = ms
      lost += $2; if (NR == 1 || $2 > worst) worst = $2
      got += $3; if (NR == 1 || $3 < least) least = $3 }
    END { printf "{\"bench\":\"viewers\",\"viewers\":%d,\"mode\":\"%s\",", n, m
          printf "\"fps\":%d,\"frames\":%d,\"skipped_frames\":%d,", fps, f, skipped
          printf "\"tries\":%d,\"presenter_cpu_ms_per_frame\":%.4f,", try, present / shown
          printf "\"cpu_ms_per_frame_mean\":%.4f,\"cpu_ms_per_frame_max\":%.4f,", sum / NR, max
          printf "\"sent_datagrams\":%d,\"lost_total\":%d,\"lost_worst\":%d,", sent, lost, worst
          printf "\"received_total\":%d,\"received_least\":%d}\n", got, least }'
}

port=47600
: >"$work/viewers.jsonl"
for count in 1 4 16; do
  for try in 1 2 3; do
    port=$((port + 2))
    echo "viewers: $count (try $try)" >&2
    measure "$count" "$port" "$try" >"$work/line"
    # A presenter that fell behind measured the machine's other load, and its frames differ
    # from the other counts' (the desktop moves on past a missed frame): taken again.
    grep -q '"skipped_frames":0,' "$work/line" && break
  done
  cat "$work/line" >>"$work/viewers.jsonl"
done
cat "$work/viewers.jsonl" >"$out"
