# SPDX-License-Identifier: MIT
"""The real window on a display of its own, read through the accessibility bus.

A UiSession starts, in a private network namespace, Xvfb, a window manager (openbox), a D-Bus
session with the accessibility bus, the stand-in service and the zelbin program, and lets a test
find the window's parts by role and name, type keys and wait for conditions with a deadline.
Everything it started ends with it. One session per process: the accessibility library keeps
the first session's bus.

    from uisession import UiSession, Skip
    with UiSession(bin_dir) as s:
        s.start_service("--receiver", "7:Room 7")
        app = s.start_zelbin()
        items = s.wait_for(lambda: s.find_all(app, "list item"), "the receivers")

A test that cannot get an accessibility bus raises Skip (exit status SKIP_STATUS, which ctest
counts as skipped), with the reason.
"""

import faulthandler
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP_STATUS = 77


class Skip(Exception):
    """The accessibility bus cannot be had here; the message says why."""


class Timeout(AssertionError):
    pass


def enter_netns():
    """Runs this script again in a user and network namespace with only loopback up, so that the
    service's look-up group and port are private to the test (a no-op once inside one)."""
    if os.environ.get("ZELBIN_TEST_NETNS"):
        return
    if not shutil.which("unshare"):
        raise Skip("unshare is missing")
    os.environ["ZELBIN_TEST_NETNS"] = "1"
    args = [sys.executable] + sys.argv
    os.execvp("unshare", ["unshare", "-rn", "sh", "-c", 'ip link set lo up && exec "$0" "$@"']
              + args)


def run_main(main):
    """Runs main() and turns Skip into the skip status, failures into status 1."""
    # A run takes seconds; one that is still going after 100 s (a call over the accessibility
    # bus that does not come back, a machine far too busy) says where it is before ctest ends it.
    faulthandler.dump_traceback_later(100, repeat=True)
    try:
        main()
    except Skip as reason:
        print("SKIPPED: %s" % reason)
        sys.exit(SKIP_STATUS)
    except AssertionError as failure:
        print("FAILED: %s" % failure)
        sys.exit(1)
    print("passed")


def wait_until(condition, what, timeout=10.0, interval=0.05):
    """condition()'s first true value, polled until the deadline; Timeout names what."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = condition()
        except Exception:  # the bus may answer with an error while a window is being built
            value = None
        if value:
            return value
        if time.monotonic() >= deadline:
            raise Timeout("no %s within %.1f s" % (what, timeout))
        time.sleep(interval)


class UiSession:
    def __init__(self, bin_dir, screen="1024x700x24", window_manager=True):
        self.bin_dir = bin_dir
        self.screen = screen
        self.window_manager = window_manager
        self.work = tempfile.mkdtemp(prefix="zelbin-ui-")
        self.env = dict(os.environ)
        self.processes = []
        self.service = None
        self.zelbin = None
        self.atspi = None

    # --- start and stop ------------------------------------------------------------------

    def __enter__(self):
        try:
            self._start_display()
            self._start_bus()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def close(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                try:
                    process.send_signal(signal.SIGCONT)  # a stopped service ends too
                    process.terminate()
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        self.processes = []
        shutil.rmtree(self.work, ignore_errors=True)

    def spawn(self, args, name, env=None, stdin=None, pass_fds=()):
        out = open(os.path.join(self.work, name + ".out"), "wb")
        process = subprocess.Popen(args, stdout=out, stderr=subprocess.STDOUT, stdin=stdin,
                                   env=env or self.env, pass_fds=pass_fds)
        self.processes.append(process)
        return process

    def output(self, name):
        with open(os.path.join(self.work, name + ".out"), "rb") as f:
            return f.read().decode("utf-8", "replace")

    def _start_display(self):
        for program in ("Xvfb", "dbus-daemon", "xprop") + (("openbox",) if self.window_manager
                                                           else ()):
            if not shutil.which(program):
                raise Skip("%s is missing" % program)
        read_end, write_end = os.pipe()
        # -noreset: the server resets when its last client leaves (an xprop that looks for the
        # window manager), and turns away a client that connects meanwhile: openbox then never
        # started, in about one session in twenty-five with others beside it.
        xvfb = self.spawn(["Xvfb", "-displayfd", str(write_end), "-screen", "0", self.screen,
                           "-nolisten", "tcp", "-noreset"], "Xvfb", pass_fds=(write_end,))
        os.close(write_end)
        with os.fdopen(read_end) as f:
            display = f.readline().strip()
        if not display:
            raise Skip("Xvfb did not start")
        self.env["DISPLAY"] = ":" + display
        if self.window_manager:
            self.spawn(["openbox", "--sm-disable"], "openbox")
            # The manager owns the screen once it has set its check window on the root.
            try:
                # Each look has a time-out of its own: an xprop that got no answer from a
                # server held by a manager still starting once hung the whole test.
                wait_until(lambda: b"window id" in subprocess.run(
                    ["xprop", "-root", "-display", self.env["DISPLAY"],
                     "_NET_SUPPORTING_WM_CHECK"], capture_output=True, timeout=5).stdout,
                    "window manager", 20)
            except Timeout as failure:
                raise Timeout("%s on %s; openbox said: %r; Xvfb (%s) said: %r" % (
                    failure, self.env["DISPLAY"], self.output("openbox")[-400:],
                    "running" if xvfb.poll() is None else "ended with %s" % xvfb.returncode,
                    self.output("Xvfb")[-600:]))

    def _start_bus(self):
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=self.env)
        self.processes.append(bus)
        address = bus.stdout.readline().decode().strip()
        if not address:
            raise Skip("no D-Bus session bus")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address
        self.env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
        self.env["QT_ACCESSIBILITY"] = "1"
        self.env["XDG_RUNTIME_DIR"] = self.work
        self.env["HOME"] = self.work  # the window's settings start empty
        self.env["XDG_CONFIG_HOME"] = os.path.join(self.work, "config")
        self.env.pop("QT_QPA_PLATFORM", None)
        # pyatspi finds the accessibility bus through this process's session bus.
        os.environ.update({k: self.env[k] for k in
                           ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR")})
        try:
            import pyatspi  # noqa: imported once the bus is there
        except ImportError as error:
            raise Skip("pyatspi cannot be imported (%s)" % error)
        self.atspi = pyatspi

    # --- the programs ----------------------------------------------------------------------

    def start_service(self, *options, control=False):
        """The stand-in in the foreground, its log in the scratch folder; answers look-ups. With
        control, it reads console commands that control() writes."""
        self.service_log = os.path.join(self.work, "service.log")
        self.service = self.spawn(
            [os.path.join(self.bin_dir, "VostraHardwareService.exe"), "--foreground",
             "--log-file", self.service_log] + ([] if control else ["--no-control"])
            + list(options), "service", stdin=subprocess.PIPE if control else None)
        self.zelbinctl("--wait", "5000", "status")
        return self.service

    def control(self, command):
        """One console command to the stand-in ("say TEXT" writes a line to its log)."""
        self.service.stdin.write(command.encode() + b"\n")
        self.service.stdin.flush()

    def zelbinctl(self, *args):
        result = subprocess.run([os.path.join(self.bin_dir, "zelbinctl")] + list(args),
                                capture_output=True, env=self.env, timeout=30)
        return result.stdout.decode("utf-8", "replace")

    def start_zelbin(self, *args, env=None):
        """The window; returns its application on the accessibility bus."""
        environment = dict(self.env)
        environment.update(env or {})
        self.zelbin = self.spawn([os.path.join(self.bin_dir, "zelbin")] + list(args), "zelbin",
                                 env=environment)
        try:
            return wait_until(self.application, "zelbin on the accessibility bus", 20)
        except Timeout:
            if self.zelbin.poll() is not None:
                raise AssertionError("zelbin ended with %s: %s"
                                     % (self.zelbin.returncode, self.output("zelbin")))
            raise Skip("the window never appeared on the accessibility bus")

    def application(self):
        desktop = self.atspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and (app.name or "").lower() == "zelbin":
                if self.find(app, "frame", timeout=0) is not None:
                    return app
        return None

    # --- finding and waiting ---------------------------------------------------------------

    def walk(self, root, depth=40):
        """Every accessible under root, depth first (menus included, whether open or not)."""
        stack = [(root, 0)]
        while stack:
            node, level = stack.pop()
            if node is None:
                continue
            yield node
            if level < depth:
                count = node.childCount
                for i in reversed(range(count)):
                    stack.append((node.getChildAtIndex(i), level + 1))

    def find_all(self, root, role, name=None, where=None):
        """The accessibles with this role name ("menu item", "list item") and, when given, this
        name (a string, or a function of it) that where() accepts."""
        found = []
        for node in self.walk(root):
            try:
                if node.getRoleName() != role:
                    continue
                if name is not None and not (name(node.name) if callable(name)
                                             else node.name == name):
                    continue
                if where is not None and not where(node):
                    continue
                found.append(node)
            except Exception:
                continue
        return found

    def find(self, root, role, name=None, where=None, timeout=10.0):
        """The first such accessible, waited for until the deadline; None with timeout 0."""
        if timeout == 0:
            found = self.find_all(root, role, name, where)
            return found[0] if found else None
        return wait_until(lambda: (self.find_all(root, role, name, where) or [None])[0],
                          "%s %r" % (role, name), timeout)

    def has_state(self, node, state_name):
        return node.getState().contains(getattr(self.atspi, "STATE_" + state_name.upper()))

    def focused(self, root):
        """The accessible that has the keyboard focus, or None."""
        for node in self.walk(root):
            try:
                if self.has_state(node, "focused"):
                    return node
            except Exception:
                continue
        return None

    def wait_for(self, condition, what, timeout=10.0):
        return wait_until(condition, what, timeout)

    def press(self, node):
        """Runs an accessible's default action (a menu item's, a button's)."""
        action = node.queryAction()
        for i in range(action.nActions):
            if action.getName(i) in ("click", "press", "Press", "activate"):
                return action.doAction(i)
        return action.doAction(0)

    # --- keyboard and screen ---------------------------------------------------------------

    def keys(self, *keys):
        """Types keys into the focused window (xdotool names: "Tab", "shift+Tab", "alt+l")."""
        if not shutil.which("xdotool"):
            raise Skip("xdotool is missing")
        subprocess.run(["xdotool", "key", "--delay", "50"] + list(keys), env=self.env,
                       check=True, timeout=30)

    def type_text(self, text):
        """Types text into the focused window as the keyboard would."""
        if not shutil.which("xdotool"):
            raise Skip("xdotool is missing")
        subprocess.run(["xdotool", "type", "--delay", "20", text], env=self.env, check=True,
                       timeout=30)

    def text_of(self, node):
        text = node.queryText()
        return text.getText(0, text.characterCount)

    def window_geometry(self):
        """(x, y, width, height) of zelbin's window on the screen, its frame and title bar
        included, as the window manager placed it."""
        window = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name",
                                 " - Zelbin$"], env=self.env, capture_output=True,
                                timeout=20).stdout.decode().split()[0]
        # The window manager's frame is the top-level parent of the program's window.
        tree = subprocess.run(["xwininfo", "-children", "-id", window], env=self.env,
                              capture_output=True, timeout=20).stdout.decode()
        parent = window
        for line in tree.splitlines():
            if "Parent window id:" in line and "(the root window)" not in line:
                parent = line.split(":")[1].split()[0]
        while True:
            tree = subprocess.run(["xwininfo", "-children", "-id", parent], env=self.env,
                                  capture_output=True, timeout=20).stdout.decode()
            above = [line.split(":")[1].split()[0] for line in tree.splitlines()
                     if "Parent window id:" in line and "(the root window)" not in line]
            if not above:
                break
            parent = above[0]
        info = subprocess.run(["xwininfo", "-id", parent], env=self.env, capture_output=True,
                              timeout=20).stdout.decode()
        values = {}
        for line in info.splitlines():
            if ":" in line:
                key, value = line.strip().split(":", 1)
                values[key] = value.strip()
        return tuple(int(values[k]) for k in ("Absolute upper-left X", "Absolute upper-left Y",
                                               "Width", "Height"))

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.env, check=True,
                       timeout=30)
        return path

    def time_call(self, call):
        """How long one call over the bus takes: the window answers it on its own thread, so a
        window held up answers late."""
        started = time.monotonic()
        call()
        return time.monotonic() - started
