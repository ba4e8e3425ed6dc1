#!/usr/bin/env python3
"""Opens kwz-web's page in headless Chromium, waits for a picture and writes the page's screen
canvas as a PNG file: the demo's proof that a browser shows the stream.

    scripts/web_snapshot.py URL PNG [timeout seconds, default 30]

chromium() is also the benchmarks' browser.
"""
import base64
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service


def chromium():
    """Debian's Chromium, headless, with a fresh profile and nothing that reaches for the
    network on its own (this machine's network is closed)."""
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync", "--disable-dev-shm-usage",
                 "--user-data-dir=" + tempfile.mkdtemp(prefix="kwz-demo-chromium-")):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def main():
    url, png = sys.argv[1], sys.argv[2]
    timeout = float(sys.argv[3]) if len(sys.argv) > 3 else 30
    browser = chromium()
    try:
        browser.get(url)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            state = browser.execute_script("return window.kwz.state()")
            if state["frames"] > 0:
                break
            time.sleep(0.2)
        else:
            sys.exit("web_snapshot: the page showed no picture")
        time.sleep(1)  # a few more pictures, so the snapshot is not the first block
        data = browser.execute_script(
            "return document.getElementById('screen').toDataURL('image/png').split(',')[1]")
        with open(png, "wb") as f:
            f.write(base64.b64decode(data))
        print(browser.find_element("id", "status").text)
    finally:
        browser.quit()


if __name__ == "__main__":
    main()
