#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# The real window with a log file named on its command line while the service writes: the file
# opens in a tab of its own, a live line goes to the live log only, Ctrl+S leaves the file as it
# is, Save As writes exactly its bytes, and the tab shows the file's last line.
# Usage: window_opened_log.py BIN_DIR
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from uisession import UiSession, enter_netns, run_main  # noqa: E402

# CR LF line ends, a two-byte and a three-byte character; the last line has both.
LINES = ["2026-12-06 10:00:%02d.000 DEBUG line %d of the old log" % (i % 60, i)
         for i in range(1, 50)] + ["2026-12-06 10:00:50.000 DEBUG caf\u00e9 \u65e5\u672c end"]
ORIGINAL = "\r\n".join(LINES).encode("utf-8") + b"\r\n"


def read(path):
    with open(path, "rb") as f:
        return f.read()


def main():
    enter_netns()
    with UiSession(sys.argv[1]) as s:
        small = os.path.join(s.work, "small.log")
        copy = os.path.join(s.work, "copy.log")
        with open(small, "wb") as f:
            f.write(ORIGINAL)
        s.start_service(control=True)
        app = s.start_zelbin(small)
        s.find(app, "page tab", "small.log")
        opened = s.find(app, "text", "small.log")
        live = s.find(app, "text", where=lambda n: n.name != "small.log" and
                      s.has_state(n, "multi_line"))
        s.wait_for(lambda: "line 1 of the old log" in s.text_of(opened), "the file's first line")

        s.control("say live line 7f3a")
        s.wait_for(lambda: "live line 7f3a" in s.text_of(live), "the live line in the live log")

        # Found once: each look through the window's tree is many calls over the bus.
        bar = s.find(app, "status bar")
        s.keys("ctrl+s")
        s.wait_for(lambda: "Save As writes a copy" in (bar.name or ""),
                   "the status bar saying the opened file is not written")
        s.keys("alt+f", "a")  # Save As; it has no key of its own on every desktop
        name = s.find(app, "text", where=lambda n: s.has_state(n, "focused") and
                      not s.has_state(n, "multi_line"))
        s.keys("ctrl+a")
        s.type_text(copy)
        s.wait_for(lambda: s.text_of(name) == copy, "the path typed into the dialog")
        s.keys("Return")
        s.wait_for(lambda: os.path.exists(copy) and "Saved a copy" in (bar.name or ""),
                   "the copy saved")
        assert read(small) == ORIGINAL, "small.log changed: %r" % read(small)[-80:]
        assert read(copy) == ORIGINAL, "the copy differs: %r" % read(copy)[-80:]

        # The end of the file, from the view's own keys.
        opened.queryComponent().grabFocus()
        s.wait_for(lambda: s.has_state(opened, "focused"), "the opened file focused")
        s.keys("ctrl+End")
        s.wait_for(lambda: s.text_of(opened).endswith(LINES[-1]), "the file's last line shown")
        assert "live line" not in s.text_of(opened), "a live line in the opened file"

        s.keys("ctrl+n")
        s.wait_for(lambda: s.find(app, "frame").name.startswith("Untitled"),
                   "the live log in front after Ctrl+N")
        assert "live line 7f3a" in s.text_of(live), "the live log lost its live line"


run_main(main)
