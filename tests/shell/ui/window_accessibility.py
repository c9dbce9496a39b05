#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# The real window read as a screen reader reads it, through the accessibility bus: it lists the
# receivers of the running service and says in its status bar that it is connected.
# Usage: window_accessibility.py BIN_DIR
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from uisession import UiSession, enter_netns, run_main  # noqa: E402


def main():
    enter_netns()
    with UiSession(sys.argv[1]) as s:
        s.start_service("--receiver", "7:Room 7", "--receiver", "8:Lab")
        app = s.start_zelbin()
        s.wait_for(lambda: [i.name for i in s.find_all(app, "list item")] == ["7 \u00b7 Room 7", "8 \u00b7 Lab"],
                   "the two receivers in the list")
        s.find(app, "label", "Connected to the receiver service")


run_main(main)
