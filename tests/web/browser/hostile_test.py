"""Peers that break the page's rules (a text frame, a frame above 4 KiB, junk kinds and sizes, a
flood of input) are each disconnected while a page and a well-behaved peer go on receiving; a
wrong or missing token is answered 403 for the page and for the WebSocket."""

import struct
import threading
import urllib.error
import urllib.request

import websocket

import kwz_browser as kb

CAPS_NO_VIDEO = bytes([1, 0])  # decodes no video itself: blocks only
TAKE_CONTROL = bytes([2, 1])


def pointer_move(x, y):
    return struct.pack('<BBBBii', 3, 0, 0, 0, x, y)


def flood(peer):
    peer.send_binary(TAKE_CONTROL)  # so that the moves are input the gateway acts on
    for i in range(1500):
        peer.send_binary(pointer_move(i % 320, i % 240))


HOSTILE = [
    ('a text frame', lambda peer: peer.send('hello')),
    ('a frame above 4 KiB', lambda peer: peer.send_binary(TAKE_CONTROL + bytes(4096))),
    ('an empty frame', lambda peer: peer.send_binary(b'')),
    ('an unknown kind', lambda peer: peer.send_binary(bytes([9, 0, 0, 0]))),
    ('a pointer message a byte short', lambda peer: peer.send_binary(pointer_move(1, 1)[:-1])),
    ('a key without a code', lambda peer: peer.send_binary(bytes([4, 0, 0, 0, 0]))),
    ('a flood of input', flood),
]


class Listener(threading.Thread):
    """A well-behaved peer that receives all the time, so that a count of its messages tells
    that the gateway still serves it."""

    def __init__(self, url):
        super().__init__(daemon=True)
        self.peer = websocket.create_connection(url, timeout=kb.TIMEOUT)
        self.peer.send_binary(CAPS_NO_VIDEO)
        self.messages = 0
        self.closed = None
        self.start()

    def run(self):
        try:
            while True:
                opcode, _ = self.peer.recv_data(control_frame=True)
                if opcode == websocket.ABNF.OPCODE_CLOSE:
                    self.closed = 'a close frame'
                    return
                self.messages += 1
        except Exception as error:  # the connection's end, whatever form it takes
            self.closed = self.closed or repr(error)

    def close(self):
        self.peer.close()
        self.join(kb.TIMEOUT)


def wait_disconnected(peer):
    """Reads until the gateway ends the connection; fails if it keeps sending past the
    deadline."""
    def ended():
        try:
            opcode, _ = peer.recv_data(control_frame=True)
            return opcode == websocket.ABNF.OPCODE_CLOSE
        except (websocket.WebSocketConnectionClosedException, ConnectionError):
            return True
    kb.wait_for(ended, 'the gateway to disconnect the peer', interval=0)


class HostileTest(kb.WebTest):

    def test_a_rule_breaker_is_disconnected_and_the_others_keep_receiving(self):
        server = kb.UdpServer()  # takes the flood's records
        self.addCleanup(server.close)
        port = kb.stream_port()
        url = self.start_web(port, server_port=server.port)
        self.start_present(port, 1, size=(320, 240))  # the synthetic screen changes every frame
        browser = self.start_browser()
        browser.open(url)
        browser.wait_state(lambda s: s['frames'] > 0, 'the page to paint')
        listener = Listener(kb.websocket_url(url))
        self.addCleanup(listener.close)

        for name, misbehave in HOSTILE:
            with self.subTest(name):
                peer = websocket.create_connection(kb.websocket_url(url), timeout=kb.TIMEOUT)
                try:
                    peer.send_binary(CAPS_NO_VIDEO)
                    try:
                        misbehave(peer)
                    except (websocket.WebSocketConnectionClosedException, ConnectionError):
                        pass  # closed while it was still sending
                    wait_disconnected(peer)
                finally:
                    peer.close()
                frames, messages = browser.state()['frames'], listener.messages
                browser.wait_state(lambda s: s['connected'] and s['frames'] >= frames + 3,
                                   'the page to go on painting after %s' % name)
                kb.wait_for(lambda: listener.messages >= messages + 3 or listener.closed,
                            'the listener to go on receiving after %s' % name)
                self.assertIsNone(listener.closed, 'the listener was disconnected')

    def test_a_wrong_or_missing_token_is_refused(self):
        url = self.start_web(kb.stream_port())
        base, token = url.split('?token=')
        wrong = base + '?token=' + ('x' if token[0] != 'x' else 'y') + token[1:]
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        with opener.open(url, timeout=kb.TIMEOUT) as page:
            self.assertEqual(page.status, 200)
        for refused in (wrong, base):
            with self.subTest(refused):
                with self.assertRaises(urllib.error.HTTPError) as page:
                    opener.open(refused, timeout=kb.TIMEOUT)
                self.assertEqual(page.exception.code, 403)
                page.exception.close()
                with self.assertRaises(websocket.WebSocketBadStatusException) as socket:
                    websocket.create_connection(kb.websocket_url(refused), timeout=kb.TIMEOUT)
                self.assertEqual(socket.exception.status_code, 403)

if __name__ == '__main__':
    kb.main()
