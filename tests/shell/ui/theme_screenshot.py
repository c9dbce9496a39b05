#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# A screenshot of the real window in one theme, as docs/ shows it: the stand-in with two
# receivers and a few log lines of each category, on a 1024 x 600 screen with a window manager.
# Usage: theme_screenshot.py BIN_DIR System|Light|Dark PNG
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from uisession import UiSession, enter_netns, run_main  # noqa: E402


def main():
    enter_netns()
    bin_dir, theme, png = sys.argv[1:4]
    with UiSession(bin_dir, screen="1024x600x24") as s:
        settings = os.path.join(s.env["XDG_CONFIG_HOME"], "Kivra Technologies")
        os.makedirs(settings, exist_ok=True)
        with open(os.path.join(settings, "Zelbin.conf"), "w") as f:
            f.write("[General]\nTheme=%s\n" % theme)
        s.start_service("--receiver", "7:Room 7", "--receiver", "12:Science Lab")
        s.zelbinctl("send", "7", "0x00,0x00,0x0D,0x1f")
        app = s.start_zelbin()
        s.wait_for(lambda: len(s.find_all(app, "list item")) == 2, "the receivers")
        s.zelbinctl("send", "12", "0x00,0x00,0x06,0x3")
        s.wait_for(lambda: s.find(app, "text", where=lambda n: "Login" in n.queryText().getText(
            0, -1), timeout=0), "the log's newest lines")
        s.screenshot(png)


run_main(main)
