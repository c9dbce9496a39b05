#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# The real window read as a screen reader reads it, through the accessibility bus, on a 1024 x 600
# screen with a window manager: it opens inside the screen, lists the receivers with their
# identifiers, Tab leaves the log, every menu opens with Alt and its letter, and the Log menu
# driven against a service that has stopped answering never holds the window up.
# Usage: window_accessibility.py BIN_DIR [ARTIFACT_DIR]
import os
import signal
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from uisession import UiSession, enter_netns, run_main  # noqa: E402


def main():
    enter_netns()
    with UiSession(sys.argv[1], screen="1024x600x24") as s:
        service = s.start_service("--receiver", "7:Room 7", "--receiver", "8:Room 7")
        app = s.start_zelbin()
        items = s.wait_for(
            lambda: [i.name for i in s.find_all(app, "list item")] ==
            ["7 \u00b7 Room 7", "8 \u00b7 Room 7"], "the two receivers, told apart")
        s.find(app, "label", "Connected to the receiver service")

        x, y, width, height = s.window_geometry()
        assert x >= 0 and y >= 0 and x + width <= 1024 and y + height <= 600, \
            "the window lies outside the screen: %s" % ((x, y, width, height),)

        # F6 goes to the log; Tab leaves it without typing into it.
        log = s.find(app, "text", where=lambda n: s.has_state(n, "multi_line"))
        s.wait_for(lambda: s.find_all(app, "menu item", "Show Debug",
                                      where=lambda n: s.has_state(n, "checked")),
                   "the service's mask in the Log menu")
        for _ in range(4):
            if s.has_state(log, "focused"):
                break
            s.keys("F6")
            time.sleep(0.2)
        assert s.wait_for(lambda: s.has_state(log, "focused"), "the log focused by F6")
        before = log.queryText().characterCount
        s.keys("Tab")
        s.wait_for(lambda: not s.has_state(log, "focused"), "the focus out of the log after Tab")
        focused = s.focused(app)
        assert focused is not None and focused.getRoleName() != "text", \
            "Tab went to %r" % (focused and focused.getRoleName())
        assert log.queryText().characterCount == before, "Tab typed into the log"

        # Alt and the letter open each menu (the slowest opening is the machine's pace below).
        slowest = 0.0
        for letter, title in (("l", "Log"), ("s", "Service"), ("x", "Extras")):
            started = time.monotonic()
            s.keys("alt+" + letter)
            menu = s.find(app, "menu item", title)
            s.wait_for(lambda: s.has_state(menu.getChildAtIndex(0), "showing"),
                       "the %s menu open after Alt+%s" % (title, letter.upper()))
            slowest = max(slowest, time.monotonic() - started)
            s.keys("Escape")
            s.wait_for(lambda: not s.has_state(menu.getChildAtIndex(0), "showing"),
                       "the %s menu closed" % title)

        # The service stops answering: each Log command returns at once, and the window answers
        # the bus while the service does not. At once: within 1 s, or five times the slowest menu
        # opening above when the machine is that loaded, and never as long as the 5 s that is half
        # the service's 10 s request time-out.
        bound = min(max(1.0, 5 * slowest), 5.0)
        service.send_signal(signal.SIGSTOP)
        try:
            for name in ("Show Debug", "Stop Logging", "Clear Log", "Show Raw Data"):
                item = s.find(app, "menu item", name)
                if not s.has_state(item, "enabled"):
                    continue
                spent = s.time_call(lambda: s.press(item))
                spent += s.time_call(lambda: s.find(app, "status bar", timeout=0))
                assert spent < bound, "the window took %.1f s over %s (bound %.1f s)" % (
                    spent, name, bound)
            # Nothing confirmed the last commands: the marks still show what the service said.
            assert s.find_all(app, "menu item", "Show Debug",
                              where=lambda n: s.has_state(n, "checked")), \
                "Show Debug lost its mark before the service answered"
            if len(sys.argv) > 2:
                os.makedirs(sys.argv[2], exist_ok=True)
                s.screenshot(os.path.join(sys.argv[2], "zelbin-silent-service.png"))
        finally:
            service.send_signal(signal.SIGCONT)


run_main(main)
