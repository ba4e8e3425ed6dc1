"""Support for the browser tests of kwz-web: the programs as child processes, headless Chromium
driven through chromedriver, the page's canvas read back as pixels, PNG files written and read
with zlib alone, and pictures compared exactly, through the 3-3-2 palette or by PSNR.

Waits poll a condition until a generous deadline: the machine is small and shared, so nothing
here orders events by sleeping or judges a duration.
"""

import base64
import importlib.util
import math
import os
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zlib

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
except ImportError:  # reported by main() as a skip
    webdriver = None

CHROMIUM = '/usr/bin/chromium'
CHROMEDRIVER = '/usr/bin/chromedriver'
SKIPPED = 77  # CTest's SKIP_RETURN_CODE for these tests

# Sanitizer builds and a busy machine make everything slower; the deadlines only bound hangs.
TIMEOUT = float(os.environ.get('KWZ_BROWSER_TIMEOUT', '60'))

# The least PSNR a lossy mode must reach: the page shows about 32 dB, as the viewer does, and a
# colour matrix or range that differs from the receiver's drops it below 28.
MIN_PSNR = 30.0

# Without these Chromium reaches for the network, which is closed here, and stalls; the last
# three keep windows that are not in front painting and running timers.
CHROMIUM_FLAGS = [
    '--headless=new', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
    '--disable-dev-shm-usage', '--no-proxy-server', '--disable-background-timer-throttling',
    '--disable-backgrounding-occluded-windows', '--disable-renderer-backgrounding'
]


def main():
    """Runs the calling module's tests, or exits with SKIPPED when the browser is missing."""
    missing = [path for path in (CHROMIUM, CHROMEDRIVER) if not os.access(path, os.X_OK)]
    if webdriver is None:
        missing.append('python3-selenium')
    if importlib.util.find_spec('websocket') is None:  # the hostile peers' client
        missing.append('python3-websocket')
    if missing:
        print('skipped: missing ' + ', '.join(missing))
        sys.exit(SKIPPED)
    unittest.main(verbosity=2)


def wait_for(condition, what, timeout=TIMEOUT, interval=0.05):
    """Polls condition until it returns something true and returns that; fails after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError('timed out after %.0f s waiting for %s' % (timeout, what))
        # A poll: the browser and the programs are other processes that signal nothing to wait on.
        time.sleep(interval)


def stream_port():
    """A UDP port on 127.0.0.1 that nothing holds right now; even, as RTP streams use."""
    while True:
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.bind(('127.0.0.1', 0))
            port = s.getsockname()[1]
        if port % 2 == 0:
            return port


def program_path(variable):
    path = os.environ.get(variable)
    if not path:
        raise AssertionError('%s is not set (run these tests through ctest)' % variable)
    return path


class Program:
    """A child process whose stdout lines are collected (and echoed for the test's log)."""

    def __init__(self, args):
        self.args = args
        self.lines = []
        self._lock = threading.Lock()
        self.process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        text=True, bufsize=1)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for line in self.process.stdout:
            sys.stdout.write('[%s] %s' % (os.path.basename(self.args[0]), line))
            with self._lock:
                self.lines.append(line.rstrip('\n'))

    def line_starting(self, prefix):
        with self._lock:
            return next((line for line in self.lines if line.startswith(prefix)), None)

    def running(self):
        return self.process.poll() is None

    def stop(self):
        """Ends the program with SIGTERM and returns its exit status."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            status = self.process.wait(timeout=TIMEOUT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            status = self.process.wait()
        self._reader.join(timeout=TIMEOUT)
        self.process.stdout.close()
        return status


def start_web(source_port, server_port=None):
    """Starts kwz-web on a free HTTP port and returns (program, page URL)."""
    args = [program_path('KWZ_WEB_PATH'), '--source-address', '127.0.0.1', '--source-port',
            str(source_port), '--http', '127.0.0.1:0']
    if server_port is not None:
        args += ['--server-address', '127.0.0.1', '--server-port', str(server_port),
                 '--remote-control']
    web = Program(args)
    prefix = 'kwz-web: '

    def url():
        if not web.running():
            raise AssertionError('kwz-web ended with %s before printing its URL' %
                                 web.process.returncode)
        line = web.line_starting(prefix)
        return line[len(prefix):] if line else None

    try:
        return web, wait_for(url, 'the URL line of kwz-web')
    except BaseException:
        web.stop()
        raise


def start_present(port, mode, bpp=32, source='synthetic', size=None, fps=10, refresh=None):
    """Streams to 127.0.0.1:port until stopped."""
    args = [program_path('KWZ_PRESENT_PATH'), '--mode', str(mode), '--bpp', str(bpp), '--dest',
            '127.0.0.1:%d' % port, '--fps', str(fps), '--seconds', '3600', '--source', source]
    if size:
        args += ['--size', '%dx%d' % size]
    if refresh is not None:
        args += ['--refresh-seconds', str(refresh)]
    return Program(args)


def websocket_url(page_url):
    """The page's WebSocket address: same host and token, path /ws."""
    rest = page_url.split('://', 1)[1]
    host, query = rest.split('/', 1)
    return 'ws://%s/ws%s' % (host, query[query.index('?'):] if '?' in query else '')


class Picture:
    """RGB pixels, top row first."""

    def __init__(self, width, height, rgb):
        if len(rgb) != width * height * 3:
            raise ValueError('%dx%d needs %d bytes, not %d' %
                             (width, height, width * height * 3, len(rgb)))
        self.width, self.height, self.rgb = width, height, bytes(rgb)

    @staticmethod
    def from_rgba(width, height, rgba):
        rgb = bytearray(width * height * 3)
        for c in range(3):
            rgb[c::3] = rgba[c::4]
        return Picture(width, height, rgb)

    def __eq__(self, other):
        return (self.width, self.height, self.rgb) == (other.width, other.height, other.rgb)

    def __repr__(self):
        return 'Picture(%dx%d)' % (self.width, self.height)


def reference_picture(width=320, height=232):
    """Smooth gradients for the video codecs, with sharp edges, one-pixel lines and a small
    checkerboard that a wrong row order, offset or palette cannot pass (a shift by one pixel
    costs about 17 dB). The height is no multiple of 16, so that the video codecs' padding rows
    must be cropped, nor of 100, so that the block grid is padded too."""
    rgb = bytearray(width * height * 3)
    for y in range(height):
        for x in range(width):
            r = x * 255 // (width - 1)
            g = y * 255 // (height - 1)
            b = (x + 2 * y) * 255 // (width + 2 * height)
            if x % 40 == 20 or y % 40 == 20:  # one-pixel grid lines
                r, g, b = 255, 255, 255
            if 16 <= x < 80 and 16 <= y < 48:  # a solid bar with hard edges
                r, g, b = 200, 30, 60
            if width - 48 <= x < width - 16 and height - 48 <= y < height - 16:
                r = g = b = 255 if (x // 4 + y // 4) % 2 else 0
            rgb[(y * width + x) * 3:(y * width + x) * 3 + 3] = bytes((r, g, b))
    return Picture(width, height, rgb)


def white(width, height):
    return Picture(width, height, b'\xff' * (width * height * 3))


def _chunk(kind, data):
    return (struct.pack('>I', len(data)) + kind + data +
            struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF))


def write_png(path, picture):
    rows = b''.join(b'\0' + picture.rgb[y * picture.width * 3:(y + 1) * picture.width * 3]
                    for y in range(picture.height))
    header = struct.pack('>IIBBBBB', picture.width, picture.height, 8, 2, 0, 0, 0)
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + _chunk(b'IHDR', header) +
                _chunk(b'IDAT', zlib.compress(rows, 9)) + _chunk(b'IEND', b''))


def _paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else (b if pb <= pc else c)


def read_png(path):
    """An 8-bit RGB or RGBA PNG without interlacing as a Picture (alpha dropped)."""
    with open(path, 'rb') as f:
        data = f.read()
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        raise ValueError('%s: not a PNG file' % path)
    pos, idat, header = 8, [], None
    while pos + 8 <= len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b'IHDR':
            header = struct.unpack('>IIBBBBB', body)
        elif kind == b'IDAT':
            idat.append(body)
        elif kind == b'IEND':
            break
        pos += 12 + length
    if header is None:
        raise ValueError('%s: no IHDR chunk' % path)
    width, height, depth, color, _, _, interlace = header
    channels = {2: 3, 6: 4}.get(color)
    if depth != 8 or channels is None or interlace != 0:
        raise ValueError('%s: only 8-bit RGB or RGBA without interlacing is read' % path)
    raw = zlib.decompress(b''.join(idat))
    stride = width * channels
    if len(raw) != height * (stride + 1):
        raise ValueError('%s: image data of the wrong size' % path)
    pixels, previous = bytearray(), bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        row = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = row[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            row[i] = (row[i] + (0, left, up, (left + up) // 2, _paeth(left, up, corner))[kind]) & 255
        pixels += row
        previous = row
    if channels == 3:
        return Picture(width, height, pixels)
    return Picture.from_rgba(width, height, pixels)


def _nearest_levels(levels):
    """For each channel value, the value of the nearest palette level (ties to the lower one),
    as the presenter picks a 3-3-2 index and the page shows it."""
    shown = [level * 255 // (levels - 1) for level in range(levels)]
    table = bytearray(256)
    for value in range(256):
        best = 0
        for level in range(1, levels):
            if abs(shown[level] - value) < abs(shown[best] - value):
                best = level
        table[value] = shown[best]
    return bytes(table)


_EIGHT_LEVELS = _nearest_levels(8)
_FOUR_LEVELS = _nearest_levels(4)


def through_palette(picture):
    """The picture as an 8-bit stream shows it: each pixel as its 3-3-2 palette entry."""
    rgb = bytearray(picture.rgb)
    rgb[0::3] = picture.rgb[0::3].translate(_EIGHT_LEVELS)
    rgb[1::3] = picture.rgb[1::3].translate(_EIGHT_LEVELS)
    rgb[2::3] = picture.rgb[2::3].translate(_FOUR_LEVELS)
    return Picture(picture.width, picture.height, rgb)


def mismatched_pixels(a, b):
    """Pixels that differ in any channel; every pixel when the sizes differ."""
    if (a.width, a.height) != (b.width, b.height):
        return max(a.width * a.height, b.width * b.height)
    if a.rgb == b.rgb:
        return 0
    return sum(1 for i in range(0, len(a.rgb), 3) if a.rgb[i:i + 3] != b.rgb[i:i + 3])


def psnr(a, b):
    """Peak signal-to-noise ratio in dB over all channels; 99 when identical, 0 when the
    sizes differ."""
    if (a.width, a.height) != (b.width, b.height):
        return 0.0
    squared = sum((x - y) * (x - y) for x, y in zip(a.rgb, b.rgb))
    if squared == 0:
        return 99.0
    return 10 * math.log10(255 * 255 * len(a.rgb) / squared)


# Reads a canvas as base64 RGBA: execute_script carries strings far better than number arrays.
_READ_CANVAS = '''
const canvas = document.querySelector(arguments[0]);
if (!canvas || canvas.width === 0 || canvas.height === 0) return null;
const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
let text = '';
for (let i = 0; i < data.length; i += 0x8000)
  text += String.fromCharCode.apply(null, data.subarray(i, i + 0x8000));
return [canvas.width, canvas.height, btoa(text)];
'''


class Browser:
    """One headless Chromium with a fresh profile; several windows when asked for."""

    def __init__(self, width=1024, height=768):
        self.profile = tempfile.mkdtemp(prefix='kwz-chromium-')
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in CHROMIUM_FLAGS:
            options.add_argument(flag)
        options.add_argument('--user-data-dir=' + self.profile)
        options.add_argument('--window-size=%d,%d' % (width, height))
        try:
            self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        except BaseException:
            shutil.rmtree(self.profile, ignore_errors=True)
            raise
        self.driver.set_script_timeout(TIMEOUT)
        self.driver.set_page_load_timeout(TIMEOUT)

    def close(self):
        try:
            self.driver.quit()
        finally:
            shutil.rmtree(self.profile, ignore_errors=True)

    def open(self, url):
        self.driver.get(url)

    def open_window(self, url):
        """Opens url in a new window, which becomes the current one; returns its handle."""
        self.driver.switch_to.new_window('window')
        self.driver.get(url)
        return self.driver.current_window_handle

    def switch_to(self, handle):
        self.driver.switch_to.window(handle)

    def state(self):
        return self.driver.execute_script(
            'return window.kwz && window.kwz.state ? window.kwz.state() : null')

    def wait_state(self, condition, what, timeout=TIMEOUT):
        """Polls the page's state until condition(state) holds; returns that state. A failure
        shows the last state."""
        last = [None]

        def check():
            last[0] = self.state()
            return last[0] if last[0] and condition(last[0]) else None

        try:
            return wait_for(check, what, timeout)
        except AssertionError as failure:
            raise AssertionError('%s; the page\'s state is %s' % (failure, last[0])) from None

    def canvas(self, selector='#screen'):
        """The canvas's pixels as a Picture, or None while it has no size."""
        found = self.driver.execute_script(_READ_CANVAS, selector)
        if not found:
            return None
        width, height, data = found
        return Picture.from_rgba(width, height, base64.b64decode(data))

    def wait_picture(self, matches, what, reference=None, timeout=TIMEOUT):
        """Polls the canvas until matches(picture) holds and returns that picture. On time-out
        the failure tells how far the last picture was from reference and where it is saved."""
        last = [None]

        def check():
            last[0] = self.canvas()
            return last[0] if last[0] is not None and matches(last[0]) else None

        try:
            return wait_for(check, what, timeout, interval=0.2)
        except AssertionError as failure:
            if last[0] is None:
                raise AssertionError('%s; the canvas never had a size' % failure) from None
            path = os.path.join(tempfile.gettempdir(), 'kwz-browser-%d-%d.png' %
                                (os.getpid(), int(time.time() * 1000)))
            write_png(path, last[0])
            distance = ''
            if reference is not None:
                distance = ', %d pixels differ from the reference, PSNR %.1f dB' % (
                    mismatched_pixels(last[0], reference), psnr(last[0], reference))
            raise AssertionError('%s; the canvas is %s%s, saved as %s' %
                                 (failure, last[0], distance, path)) from None


class UdpServer:
    """The presenter's remote-control port as the test sees it: 24-byte records on 127.0.0.1."""

    RECORD = struct.Struct('<iiIBBHII')  # x, y, buttons, type, reserved, message, wParam, lParam

    def __init__(self):
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.bind(('127.0.0.1', 0))
        self.port = self.socket.getsockname()[1]
        self.records = []

    def close(self):
        self.socket.close()

    def receive(self):
        """Adds what has arrived to self.records; datagrams of another size fail the test."""
        while select.select([self.socket], [], [], 0)[0]:
            data = self.socket.recv(65536)
            if len(data) != self.RECORD.size:
                raise AssertionError('a datagram of %d bytes: %r' % (len(data), data))
            self.records.append(self.RECORD.unpack(data))
        return self.records


class WebTest(unittest.TestCase):
    """Starts the programs and the browser for a test and ends them after it; cleanup takes
    addCleanup's place when a part of a test needs them gone sooner (an ExitStack's callback).
    kwz-web must end with status 0 whatever the test did to it."""

    def start_web(self, source_port, server_port=None, cleanup=None):
        web, url = start_web(source_port, server_port)
        (cleanup or self.addCleanup)(self._stop_web, web)
        return url

    def _stop_web(self, web):
        status = web.stop()
        self.assertEqual(status, 0, 'kwz-web ended with status %s' % status)

    def start_present(self, port, mode, cleanup=None, **options):
        present = start_present(port, mode, **options)
        (cleanup or self.addCleanup)(present.stop)
        return present

    def start_browser(self, **size):
        browser = Browser(**size)
        self.addCleanup(browser.close)
        return browser

    def picture_file(self, picture):
        """Writes picture as a PNG file that lives as long as the test; returns its path."""
        folder = tempfile.TemporaryDirectory(prefix='kwz-browser-')
        self.addCleanup(folder.cleanup)
        path = os.path.join(folder.name, 'picture.png')
        write_png(path, picture)
        return path
