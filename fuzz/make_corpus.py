#!/usr/bin/env python3
"""Writes a seed corpus for decoder_fuzzer: tiny 64x48 clips from the ffmpeg tool for each
codec, cut into one-frame packets and framed as the fuzzer reads them.

usage: fuzz/make_corpus.py <folder>
"""
import os
import struct
import subprocess
import sys
import tempfile

CLIPS = [  # (selector byte, ffmpeg output options, splitter)
    (0, "-c:v mpeg4 -g 3 -f m4v", "mpeg4"),
    (1, "-c:v libx264 -profile:v baseline -pix_fmt yuv420p -g 3 -f h264", "annexb"),
    (2, "-c:v libvpx -g 3 -deadline realtime -lag-in-frames 0 -f ivf", "ivf8"),
    (3, "-c:v libvpx-vp9 -g 3 -deadline realtime -lag-in-frames 0 -f ivf", "ivf9"),
    (4, "-c:v mjpeg -pix_fmt yuvj420p -f mjpeg", "jpeg"),
]


def split_ivf(data, vp9):
    at, frames = struct.unpack_from("<H", data, 6)[0], []
    while at + 12 <= len(data):
        size = struct.unpack_from("<I", data, at)[0]
        frame = data[at + 12:at + 12 + size]
        key = (frame[0] & 1) == 0 if not vp9 else (frame[0] & 0x0C) == 0
        frames.append((b"\x00\x00\x01\x10" if key else b"\xff\xff\xfe\xef") + frame)
        at += 12 + size
    return frames


def split_on(data, marker, keep_head):
    cuts = [i for i in range(len(data)) if data.startswith(marker, i)]
    if keep_head and cuts:
        cuts[0] = 0
    return [data[a:b] for a, b in zip(cuts, cuts[1:] + [len(data)])]


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        for selector, options, kind in CLIPS:
            path = os.path.join(tmp, "clip")
            subprocess.run(
                f"ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=64x48:rate=10 "
                f"-frames:v 4 {options} {path}", shell=True, check=True)
            data = open(path, "rb").read()
            if kind.startswith("ivf"):
                frames = split_ivf(data, kind == "ivf9")
            elif kind == "mpeg4":
                frames = split_on(data, b"\x00\x00\x01\xb6", True)
            elif kind == "jpeg":
                frames = split_on(data, b"\xff\xd8\xff", False)
            else:  # one access unit per frame is enough for a seed: the whole stream
                frames = [data]
            body = b"".join(struct.pack("<H", len(f)) + f for f in frames)
            with open(os.path.join(out, f"seed_{selector}"), "wb") as f:
                f.write(bytes([selector, 0]) + body)


if __name__ == "__main__":
    main()
