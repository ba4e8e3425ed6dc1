"""Remote control from the page: clicks and keys given to the page through WebDriver reach the
test's UDP port as the 24-byte records that the control sends for the same input, and only
from the page that took control."""

import math

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.actions.action_builder import ActionBuilder
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

import kwz_browser as kb

KEYBOARD, MOUSE = 1, 2
UNUSED = 0xFFFFFFFF  # wParam and lParam of a mouse record


def mouse(x, y, buttons):
    return (x, y, buttons, MOUSE, 0, 0, UNUSED, UNUSED)


def key(message, w_param, l_param):
    return (0, 0, 0, KEYBOARD, 0, message, w_param, l_param)


# Each button message sets one bit of its button and clears the other two; bits persist, so
# the right button's bits join the left button's last one. A double-click replaces the second
# press.
CLICKS = [
    ('click', 50, 30, [0x2, 0x1]),
    ('double_click', 60, 31, [0x2, 0x1, 0x4, 0x1]),
    ('context_click', 70, 32, [0x21, 0x11]),
]

F1 = key(0x0100, 0x70, 0x003B0001)  # has no character: marks the end of what came before

KEYS = [
    # What the keys send, in the order they are pressed; releases send nothing except for
    # extended keys, and Ctrl alone sends nothing.
    (lambda a: a.send_keys('a'), [key(0x0102, 0x61, 0x001E0001)]),
    (lambda a: a.key_down(Keys.SHIFT).send_keys('a').key_up(Keys.SHIFT),
     [key(0x0100, 0x10, 0x002A0001), key(0x0102, 0x41, 0x001E0001)]),
    (lambda a: a.key_down(Keys.CONTROL).send_keys('a').key_up(Keys.CONTROL),
     [key(0x0102, 0x01, 0x021E0001)]),  # the control character, with the Ctrl bit 25
    (lambda a: a.key_down(Keys.LEFT).key_up(Keys.LEFT),
     [key(0x0100, 0x25, 0x014B0001), key(0x0100, 0x25, 0xC14B0001)]),  # extended
    (lambda a: a.send_keys(Keys.RETURN), [key(0x0102, 0x0D, 0x001C0001)]),
    (lambda a: a.key_down(Keys.ALT).key_up(Keys.ALT), [key(0x0100, 0x12, 0x20380001)]),
    (lambda a: a.send_keys(Keys.F1), [F1]),
]


def button_changes(records):
    """The mouse records at which the buttons changed, from the first press on: the re-sends
    in between repeat the last record and are left out."""
    changes = []
    for record in records:
        if record[3] != MOUSE or (not changes and record[2] == 0):
            continue
        if not changes or record[2] != changes[-1][2]:
            changes.append(record)
    return changes


class RemoteControlTest(kb.WebTest):

    def setUp(self):
        self.server = kb.UdpServer()
        self.addCleanup(self.server.close)
        port = kb.stream_port()
        self.url = self.start_web(port, server_port=self.server.port)
        self.reference = kb.reference_picture()
        self.start_present(port, 1, source='png:' + self.picture_file(self.reference))
        self.browser = self.start_browser()

    def open_page(self):
        """Opens a page in a window of its own, at 1:1 and showing the picture."""
        window = self.browser.open_window(self.url)
        self.browser.wait_picture(lambda shown: shown == self.reference, 'the picture')
        fit = self.browser.driver.find_element(By.ID, 'fit')
        if fit.is_selected():
            fit.click()
        return window

    def click_at(self, x, y, how):
        """Clicks the page's screen at pixel (x, y); returns the pixel the click lands on when
        the canvas does not sit on whole pixels."""
        driver = self.browser.driver
        left, top = driver.execute_script(
            'const screen = document.getElementById("screen");'
            'screen.scrollIntoView();'
            'const r = screen.getBoundingClientRect(); return [r.left, r.top];')
        at_x, at_y = math.ceil(left) + x, math.ceil(top) + y
        actions = ActionBuilder(driver)
        actions.pointer_action.move_to_location(at_x, at_y)
        getattr(actions.pointer_action, how)()
        actions.perform()
        return math.floor(at_x - left), math.floor(at_y - top)

    def control(self, expected):
        self.browser.driver.find_element(By.ID, 'control').click()
        self.browser.wait_state(lambda s: s['control'] == expected, 'control ' + expected)

    def test_input_on_the_controlling_page_arrives_as_the_controls_records(self):
        watcher = self.open_page()
        controller = self.open_page()
        self.browser.wait_state(lambda s: s['control'] == 'free', 'control to be free')
        self.control('you')
        self.browser.switch_to(watcher)
        self.browser.wait_state(lambda s: s['control'] == 'other', 'the watcher to see control')
        self.browser.switch_to(controller)

        expected_mouse = []
        for how, x, y, buttons in CLICKS:
            x, y = self.click_at(x, y, how)
            expected_mouse += [mouse(x, y, b) for b in buttons]
        expected_keys = []
        for press, records in KEYS:
            press(ActionChains(self.browser.driver)).perform()
            expected_keys += records
        kb.wait_for(lambda: F1 in self.server.receive(), 'the F1 record')
        received = list(self.server.records)
        self.assertEqual(button_changes(received), expected_mouse)
        self.assertEqual([r for r in received if r[3] == KEYBOARD], expected_keys)

        # The watcher's clicks and keys send nothing; the controller's mouse record goes on
        # being re-sent as it was.
        self.browser.switch_to(watcher)
        self.click_at(200, 150, 'click')
        ActionChains(self.browser.driver).send_keys('b').perform()
        self.browser.switch_to(controller)
        ActionChains(self.browser.driver).send_keys(Keys.F2).perform()
        f2 = key(0x0100, 0x71, 0x003C0001)
        kb.wait_for(lambda: f2 in self.server.receive(), 'the F2 record')
        count = len(self.server.records)
        kb.wait_for(lambda: len(self.server.receive()) >= count + 5, 'the re-sent mouse record')
        after_f1 = self.server.records[len(received):]
        self.assertEqual([r for r in after_f1 if r[3] == KEYBOARD], [f2])
        self.assertEqual({r for r in after_f1 if r[3] == MOUSE}, {expected_mouse[-1]})

        self.control('free')
        self.browser.switch_to(watcher)
        self.browser.wait_state(lambda s: s['control'] == 'free', 'control to be free again')


if __name__ == '__main__':
    kb.main()
