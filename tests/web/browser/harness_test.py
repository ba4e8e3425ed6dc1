"""The browser harness on its own, against a static page: Chromium starts, a PNG the harness
writes is drawn by Chromium's decoder into the canvas and read back unchanged, and a PNG that
Chromium encodes (with its own filters and alpha) reads back as the same picture."""

import functools
import http.server
import os
import tempfile
import threading
import unittest

import kwz_browser as kb

PAGE = b'''<!doctype html><html><body style="margin:0">
<canvas id="screen"></canvas><img id="source" src="picture.png">
<script>
const image = document.getElementById('source');
image.onload = () => {
  const canvas = document.getElementById('screen');
  canvas.width = image.naturalWidth;
  canvas.height = image.naturalHeight;
  canvas.getContext('2d').drawImage(image, 0, 0);
  window.encoded = canvas.toDataURL('image/png');
};
</script></body></html>'''


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class HarnessTest(unittest.TestCase):

    def test_a_written_png_reads_back_from_the_canvas_and_chromiums_png_reads_back(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        picture = kb.reference_picture()
        kb.write_png(os.path.join(folder.name, 'picture.png'), picture)
        with open(os.path.join(folder.name, 'index.html'), 'wb') as f:
            f.write(PAGE)
        server = http.server.ThreadingHTTPServer(
            ('127.0.0.1', 0), functools.partial(QuietHandler, directory=folder.name))
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)
        browser = kb.Browser()
        self.addCleanup(browser.close)

        browser.open('http://127.0.0.1:%d/index.html' % server.server_address[1])
        shown = browser.wait_picture(lambda p: p.width == picture.width, 'the drawn picture')
        self.assertEqual(kb.mismatched_pixels(shown, picture), 0)

        encoded = kb.wait_for(lambda: browser.driver.execute_script('return window.encoded'),
                              "Chromium's PNG")
        path = os.path.join(folder.name, 'encoded.png')
        with open(path, 'wb') as f:
            f.write(kb.base64.b64decode(encoded.split(',', 1)[1]))
        self.assertEqual(kb.read_png(path), picture)


if __name__ == '__main__':
    kb.main()
