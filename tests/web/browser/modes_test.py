"""kwz-present streams a picture in each mode and at each pixel depth it allows; the page's
canvas must show that picture: white for geometry alone, exactly for zlib at 32 bits, through
the 3-3-2 palette at 8 bits, and within a PSNR bound for JPEG and the video codecs."""

import contextlib

import kwz_browser as kb

# name, mode, bits per pixel, how the canvas is judged, what the page's address adds
CASES = [
    ('geometry', 0, 32, 'white', ''),
    ('zlib', 1, 32, 'exact', ''),
    ('zlib', 1, 8, 'palette', ''),
    ('jpeg', 2, 32, 'psnr', ''),
] + [(name, mode, bpp, 'psnr', '')
     for name, mode in (('mpeg4', 3), ('h264', 4), ('vp8', 5), ('vp9', 6))
     for bpp in (24, 32)] + [
    # A page that decodes no video gets H.264 as blocks that the gateway decoded.
    ('h264 as blocks', 4, 32, 'psnr', '&codecs=none'),
]


def judge(how, reference):
    """What the canvas must show and whether a picture passes."""
    if how == 'psnr':
        return reference, lambda shown: kb.psnr(shown, reference) >= kb.MIN_PSNR
    want = {
        'white': lambda: kb.white(reference.width, reference.height),
        'exact': lambda: reference,
        'palette': lambda: kb.through_palette(reference),
    }[how]()
    return want, lambda shown: shown == want


class ModesTest(kb.WebTest):

    def test_the_canvas_shows_the_presenters_picture_in_every_mode(self):
        reference = kb.reference_picture()
        source = 'png:' + self.picture_file(reference)
        browser = self.start_browser()
        for name, mode, bpp, how, page in CASES:
            with self.subTest(mode=name, bpp=bpp), contextlib.ExitStack() as stack:
                port = kb.stream_port()
                url = self.start_web(port, cleanup=stack.callback)
                browser.open(url + page)
                self.start_present(port, mode, cleanup=stack.callback, bpp=bpp, source=source)
                want, passes = judge(how, reference)
                shown = browser.wait_picture(passes, '%s at %d bits' % (name, bpp), want)
                print('%s/%d: PSNR %.1f dB after %d pictures' %
                      (name, bpp, kb.psnr(shown, want), browser.state()['frames']))

if __name__ == '__main__':
    kb.main()
