#!/usr/bin/env python3
"""Latency from the last datagram of a frame to its picture on a browser's canvas: kwz-web
passes the presenter's 1080p H.264 stream to a headless Chromium page, web_bench --send notes
when each frame's last datagram left, the page notes when each picture was painted (both on
this machine's clock), and the k-th picture is the k-th frame. Prints one JSON line.

    bench/web_latency.py BUILD_DIR [frames, default 100]
"""
import json
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts"))
from web_snapshot import chromium  # noqa: E402

FPS = 10


def wait_for(condition, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return False


def main():
    build = sys.argv[1]
    frames = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    port = 47600 + 2 * (os.getpid() % 100)
    web = subprocess.Popen([os.path.join(build, "apps/kwz-web/kwz-web"), "--source-address",
                            "127.0.0.1", "--source-port", str(port), "--http", "127.0.0.1:0"],
                           stdout=subprocess.PIPE, text=True)
    browser = None
    try:
        url = web.stdout.readline().split(" ", 1)[1].strip()
        browser = chromium()
        browser.get(url)
        if not wait_for(lambda: browser.execute_script("return window.kwz.state().connected")):
            sys.exit("web_latency: the page did not connect")
        time.sleep(0.5)  # the page has told the gateway its codecs
        with tempfile.NamedTemporaryFile("r") as times:
            subprocess.run([os.path.join(build, "bench/web_bench"), "--send", str(port), str(FPS),
                            times.name, str(frames)], check=True)
            sent = [int(line) for line in times if line.strip()]
        wait_for(lambda: len(browser.execute_script("return window.kwz.paints()")) >= len(sent),
                 10)
        paints = browser.execute_script("return window.kwz.paints()")
    finally:
        if browser:
            browser.quit()
        web.terminate()
        web.wait()
    if len(paints) != len(sent):
        sys.exit(f"web_latency: {len(sent)} frames sent, {len(paints)} pictures painted")
    latencies = sorted(p - s for p, s in zip(paints, sent))
    median = latencies[len(latencies) // 2]
    p99 = latencies[min(len(latencies) - 1, int(len(latencies) * 0.99))]
    print(json.dumps({"bench": "web_latency", "frames": len(sent), "median_ms": median,
                      "p99_ms": p99, "frame_interval_ms": 1000 / FPS}))


if __name__ == "__main__":
    main()
