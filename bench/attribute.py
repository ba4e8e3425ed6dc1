#!/usr/bin/env python3
"""Where the receiver's CPU goes: runs pipeline_bench under `perf record` (CPU-clock samples with
call stacks, enabled only while the receiver's CPU is measured) and splits the receiving
threads' samples into receive and reassembly, decode, conversion, copy into the bitmap, paint,
wake-ups and the rest. Each sample goes to the first frame, from the leaf up, that belongs to one
of those steps; the C library, the C++ runtime and the kernel count for whoever called them.

    bench/attribute.py BUILD_DIR [--seconds N] [--x11] [--out FILE] [--detail N] [MODE ...]

--x11 profiles the pipeline painting into a private Xvfb; the server's samples are left out (its
CPU is pipeline_bench's server_cpu_ms).

Prints one table (ms per frame, and the share of the receiver CPU that pipeline_bench measured in
the same run) and, with --out, one JSON line per mode for bench/report.py. Needs perf and the
right to profile the kernel side too (root, or perf_event_paranoid <= 1)."""
import argparse
import json
import os
import re
import subprocess
import sys
import tempfile

STEPS = ("receive", "decode", "conversion", "copy", "paint", "wake-ups", "rest")
HEADINGS = {
    "receive": "receive+reassembly",
    "decode": "decode",
    "conversion": "conversion",
    "copy": "copy to bitmap",
    "paint": "paint",
    "wake-ups": "wake-ups",
    "rest": "rest",
}

# Frames that work for their caller: the C library, the C++ runtime, the kernel, the platform's
# allocation and zeroing calls.
TRANSPARENT_DSO = re.compile(
    r"kernel\.kallsyms|/libc\.so|/libstdc\+\+|/ld-linux|/libm\.so|/libgcc_s|\[vdso\]|//anon|"
    r"\[unknown\]")
TRANSPARENT_SYMBOL = re.compile(
    r"^(w7_ipps(Malloc|Free|Zero|Set)|operator new|operator delete|__mem(cpy|move|set)|std::)")

# (step, pattern on the symbol, pattern on the library); the first match decides.
RULES = [
    # Blocks are copied into the bitmap through the platform's ippiCopy, which is libyuv's
    # CopyPlane; that test comes before libyuv's conversions.
    ("copy",
     r"CBMPManager::(CopyBlock|CopyToPlace|WarmPlace)|CBlockBuffers::|w7_ippiCopy|^Copy(Plane|Row)",
     None),
    ("conversion", r"ConvertPlanes|w7_ippi(YCbCr|YUV|RGB|BGR)|Planar420", r"/libyuv\."),
    ("decode", r"^(kwz_codec::|CVideoDecoder::|inflate|uncompress|adler32|crc32)",
     r"/lib(openh264|avcodec|avutil|vpx|z|jpeg|turbojpeg|swscale|deflate)\."),
    ("paint",
     r"SetDIBitsToDevice|StretchDIBits|StretchBlt|BitBlt|kwz_platform::(PaintDib|.*Paint|.*Blit"
     r"|.*Scale|.*Stretch|.*Present|.*Cursor|.*Dirty|.*ConvertRow|.*ScanRow)|AreaScale|DrawIcon|"
     r"CBMPManager::Draw|kwz_platform::.*StreamCopy",
     r"/lib(X11|xcb|Xext|Xrender)[.-]"),
    ("wake-ups",
     r"WaitFor(Single|Multiple)Object|WSAWaitForMultipleEvents|NetworkWaitSet|(WSA)?(Set|Reset)"
     r"Event|^Sleep|EventObject::|timeGetTime|QueryPerformance",
     None),
    ("receive",
     r"recvfrom|^recv|ioctlsocket|WSAEnumNetworkEvents|WSARecv|SocketObject|DatagramQueue|"
     r"^(CNetwork|CRtp|"
     r"CReorderQueue|CScreenReceiver|RtpHeader|RtpSequence|CPacket|CSSPacket|CDrawingHeader)",
     None),
]
COMPILED = [(step, re.compile(sym) if sym else None, re.compile(dso) if dso else None)
            for step, sym, dso in RULES]


def classify(frames):
    """frames: (symbol, library) pairs from the leaf up; returns the step and the deciding frame.
    An inlined frame carries no library, so only its symbol can decide."""
    for symbol, library in frames:
        if TRANSPARENT_DSO.search(library) or TRANSPARENT_SYMBOL.search(symbol):
            continue
        for step, sym, dso in COMPILED:
            if (sym and sym.search(symbol)) or (dso and dso.search(library)):
                return step, symbol
        if library != "inlined":
            return "rest", symbol
    return "rest", "(no frame of ours)"


FRAME = re.compile(r"^\s*[0-9a-f]+\s+(.*?)\s+\(([^()]*)\)\s*$")


def samples(script_output):
    """Yields (pid, tid, period_ns, frames) per sample of `perf script -F pid,tid,period,ip,sym,dso`."""
    head = None
    frames = []
    for line in script_output:
        line = line.rstrip("\n")
        if not line.strip():
            if head:
                yield head + (frames,)
            head, frames = None, []
            continue
        if head is None:
            fields = line.split()
            try:
                pid, tid = (int(x) for x in fields[0].split("/"))
                head = (pid, tid, int(fields[1]))
            except (ValueError, IndexError):
                head = None
            continue
        match = FRAME.match(line)
        if match:
            frames.append((match.group(1), match.group(2)))
    if head:
        yield head + (frames,)


def profile_mode(build, mode, seconds, work, x11):
    """Runs one mode under perf; returns (pipeline JSON, {step: ns}, sampled ns)."""
    ctl, ack, data = (os.path.join(work, n) for n in ("ctl", "ack", f"{mode}.data"))
    for fifo in (ctl, ack):
        if os.path.exists(fifo):
            os.unlink(fifo)
        os.mkfifo(fifo)
    bench = os.path.join(build, "bench", "pipeline_bench")
    record = ["perf", "record", "-q", "-D", "-1", "--control", f"fifo:{ctl},{ack}", "-e",
              "cpu-clock", "-F", "4000", "--call-graph", "dwarf,16384", "-o", data, "--",
              bench, "--json", "--perf-control", f"{ctl},{ack}"] + (["--x11"] if x11 else []) + [
                  str(seconds), mode]
    run = subprocess.run(record, capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f"attribute: perf record failed for {mode}:\n{run.stderr}")
    rows = [json.loads(l) for l in run.stdout.splitlines() if l.startswith("{")]
    if not rows:
        return None, {}, 0
    script = subprocess.Popen(["perf", "script", "-i", data, "-F", "pid,tid,period,ip,sym,dso"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    steps = dict.fromkeys(STEPS, 0)
    deciders = {s: {} for s in STEPS}
    total = 0
    for pid, tid, period, frames in samples(script.stdout):
        # The sending thread (the process's first) is not the receiver; the X server is a child.
        if tid == pid or pid != rows[0]["pid"]:
            continue
        step, decider = classify(frames)
        steps[step] += period
        deciders[step][decider] = deciders[step].get(decider, 0) + period
        total += period
    script.wait()
    os.unlink(data)
    return rows[0], steps, total, deciders


def print_table(lines):
    """Prints the per-mode split from the JSON lines that main() writes."""
    if not lines:
        return
    heads = ["mode", "rx_cpu"] + [HEADINGS[s] for s in STEPS] + ["sampled", "explained"]
    table = [heads]
    for line in lines:
        rx, measured = line["rx_cpu_ms"], line["measured_ms"]
        steps = line["steps_ms"]
        named = sum(v for s, v in steps.items() if s != "rest") * line["frames"]
        table.append([line["mode"], f"{rx:.2f}"] +
                     [f"{steps[s]:.2f} ({100 * steps[s] / rx:.0f}%)" if rx else "-"
                      for s in STEPS] +
                     [f"{line['sampled_ms'] / measured:.2f}x" if measured else "-",
                      f"{100 * named / measured:.0f}%" if measured else "-"])
    widths = [max(len(r[i]) for r in table) for i in range(len(heads))]
    painted = "on X11" if lines[0].get("backend") == "x11" else "headless"
    print(f"\nReceiver CPU per frame (1080p unless the mode names a size; painted {painted}) by "
          "step, ms (share of rx_cpu).\nsampled: the profile's total against the measured CPU; explained: the named "
          "steps (all but\nthe rest) against the measured CPU.")
    for n, r in enumerate(table):
        print("  ".join(c.rjust(w) if i else c.ljust(w) for i, (c, w) in enumerate(zip(r, widths))))
        if n == 0:
            print("  ".join("-" * w for w in widths))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("build")
    parser.add_argument("modes", nargs="*",
                        default=["zlib32", "zlib8", "jpeg", "h264", "vp8", "vp9", "zlib32-4k",
                                 "jpeg-4k", "h264-large", "vp9-large"])
    parser.add_argument("--seconds", type=int, default=4)
    parser.add_argument("--out")
    parser.add_argument("--x11", action="store_true")
    parser.add_argument("--detail", type=int, default=0, metavar="N",
                        help="print the N frames that decided the most samples of each step")
    args = parser.parse_intermixed_args()

    lines = []
    with tempfile.TemporaryDirectory(prefix="kwz-attribute.") as work:
        for mode in args.modes:
            print(f"attribute: {mode}", file=sys.stderr)
            row, steps, total, deciders = profile_mode(args.build, mode, args.seconds, work,
                                                      args.x11)
            if row is None:
                print(f"attribute: {mode}: the presenter coded no frame", file=sys.stderr)
                continue
            for step in STEPS if args.detail else ():
                top = sorted(deciders[step].items(), key=lambda kv: -kv[1])[:args.detail]
                for symbol, ns in top:
                    print(f"  {mode:10} {step:10} {100 * ns / max(total, 1):5.1f}%  {symbol}",
                          file=sys.stderr)
            frames = row["frames"]
            lines.append({"mode": mode, "rx_cpu_ms": row["rx_cpu_ms"], "frames": frames,
                          "backend": row.get("backend", "headless"),
                          "steps_ms": {s: steps[s] / 1e6 / frames for s in STEPS},
                          "sampled_ms": total / 1e6, "measured_ms": row["rx_cpu_ms"] * frames})
    print_table(lines)
    if args.out:
        with open(args.out, "w") as f:
            for line in lines:
                f.write(json.dumps(line) + "\n")

if __name__ == "__main__":
    main()
