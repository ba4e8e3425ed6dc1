"""Pages that join a running stream: one opened mid-stream shows the picture without waiting
for a refresh (the presenter never repeats its blocks or key frame here), and twenty pages at
once all show it."""

import contextlib
import time

import kwz_browser as kb


class JoiningTest(kb.WebTest):

    def test_a_page_opened_mid_stream_shows_the_picture(self):
        reference = kb.reference_picture()
        source = 'png:' + self.picture_file(reference)
        browser = self.start_browser()
        # zlib blocks are sent once and never again; H.264 has one key frame, then changes.
        for name, mode, passes in (
                ('zlib', 1, lambda shown: shown == reference),
                ('h264', 4, lambda shown: kb.psnr(shown, reference) >= kb.MIN_PSNR)):
            with self.subTest(mode=name), contextlib.ExitStack() as stack:
                port = kb.stream_port()
                url = self.start_web(port, cleanup=stack.callback)
                self.start_present(port, mode, cleanup=stack.callback, source=source, refresh=0)
                # The first page proves that the gateway has the stream; the second joins a
                # gateway that has had it for a while.
                for page in ('first', 'second'):
                    start = time.monotonic()
                    browser.open_window(url)
                    browser.wait_picture(passes, 'the %s page of %s' % (page, name), reference)
                    print('%s: the %s page showed the picture %.2f s after it was opened' %
                          (name, page, time.monotonic() - start))

    def test_twenty_pages_at_once_all_show_the_picture(self):
        reference = kb.reference_picture()
        port = kb.stream_port()
        url = self.start_web(port)
        self.start_present(port, 1, source='png:' + self.picture_file(reference))
        browser = self.start_browser(width=400, height=320)
        windows = [browser.open_window(url) for _ in range(20)]
        for index, window in enumerate(windows):
            browser.switch_to(window)
            browser.wait_picture(lambda shown: shown == reference, 'page %d' % index, reference)
            self.assertTrue(browser.state()['connected'], 'page %d' % index)


if __name__ == '__main__':
    kb.main()
