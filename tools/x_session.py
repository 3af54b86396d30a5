"""Drives pathdrop.exe under Wine from outside, the way a user does: real X
pointer and keyboard input, files dragged from a native X client, the X
clipboard read as a native client reads it, and the stand-in chat client's
log of what reached its input field. Shared by the end-to-end tests and
tools/show_road.py.

The caller provides the environment: DISPLAY, WINEPREFIX (with a running
wineserver), LANG and the qemu settings (scripts/env.sh). xclip, on PATH,
reads the X clipboard; ImageMagick's import takes screenshots.
"""

import os
import subprocess
import sys
import time

from Xlib import X, XK, display
from Xlib.ext import xtest

CAPTION = "エクスプローラからドラッグ&ドロップでファイル名を取出すユーティリティ"
IDOK = 1
IDC_AUTOCLIPBOARD = 101
IDC_AUTOSEND = 102
IDC_COPY = 103
IDC_FILELIST = 1000
EXIT_OK = 1      # the dialog ended with IDOK
EXIT_CANCEL = 2  # the dialog ended with IDCANCEL

# Wide bounds on waits: a cold Wine start under qemu can take many seconds.
START_TIMEOUT = 60.0
EXIT_TIMEOUT = 20.0
TOOL_TIMEOUT = 60.0
POLL_TIMEOUT = 15.0


def wine_path(path):
    """The path as Wine's Z: drive shows it, Z: being the Unix root."""
    return "Z:" + path.replace("/", "\\")


def x_clipboard_text():
    """The CLIPBOARD selection as a native X client reads it (UTF8_STRING), or
    None while no client offers it. Wine converts the program's CF_TEXT from
    code page 932 and ends each line with LF alone."""
    result = subprocess.run(["xclip", "-o", "-selection", "clipboard", "-t", "UTF8_STRING"],
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=TOOL_TIMEOUT)
    if result.returncode != 0:
        return None
    # Bytes that are not UTF-8 show up escaped in a failure message.
    return result.stdout.decode("utf-8", "backslashreplace")


def poll(read, expected, timeout=POLL_TIMEOUT):
    """Reads until the value is the expected one or the wait runs out;
    returns the last value read."""
    deadline = time.monotonic() + timeout
    value = read()
    while value != expected and time.monotonic() < deadline:
        time.sleep(0.1)
        value = read()
    return value


def make_sample_files(directory):
    """Creates in `directory`, an empty or new folder, a file whose path has
    spaces, a file with a Japanese name and a folder; returns their real
    paths in that order, which is not the sorted one."""
    os.makedirs(directory, exist_ok=True)
    top = os.path.realpath(directory)
    spaced = os.path.join(top, "x y", "a b.txt")
    japanese = os.path.join(top, "日本語のファイル.txt")
    folder = os.path.join(top, "フォルダ")
    os.makedirs(os.path.dirname(spaced))
    os.makedirs(folder)
    for path in (spaced, japanese):
        with open(path, "w") as f:
            f.write("pathdrop\n")
    return spaced, japanese, folder


def drag(xdnd_drag, point, paths):
    """Drops the paths on the dialog at the root point from the native X drag
    source; raises AssertionError, with the source's log, if it is refused."""
    result = subprocess.run(
        [sys.executable, xdnd_drag, "--window-name", CAPTION,
         "--at", "%d,%d" % point, "--timeout", "20", "--verbose"] + list(paths),
        stdin=subprocess.DEVNULL, capture_output=True, timeout=TOOL_TIMEOUT)
    if result.returncode != 0:
        raise AssertionError("the drop was not accepted:\n"
                             + result.stderr.decode("utf-8", "replace"))


def save_screenshot(path, rect=None):
    """Saves the X screen, or the (left, top, right, bottom) part of it, as an
    image; returns whether ImageMagick's import succeeded."""
    crop = []
    if rect:
        left, top, right, bottom = rect
        crop = ["-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage"]
    return subprocess.run(["import", "-window", "root"] + crop + [path],
                          stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=TOOL_TIMEOUT).returncode == 0


class XInput:
    """Real X input through XTEST, and what the X server knows of windows."""

    def __init__(self):
        self.d = display.Display()
        if not self.d.has_extension("XTEST"):
            raise RuntimeError("the X server has no XTEST extension")
        self.root = self.d.screen().root
        self.net_wm_name = self.d.intern_atom("_NET_WM_NAME")
        self.net_wm_pid = self.d.intern_atom("_NET_WM_PID")
        self.utf8 = self.d.intern_atom("UTF8_STRING")

    def close(self):
        self.d.close()

    def captioned_windows(self):
        """(window, pid) of every mapped top-level window with our caption."""
        found = []
        for window in self.root.query_tree().children:
            try:
                if window.get_attributes().map_state != X.IsViewable:
                    continue
                name = window.get_full_property(self.net_wm_name, self.utf8)
                if name is None or name.value.decode("utf-8", "replace") != CAPTION:
                    continue
                pid = window.get_full_property(self.net_wm_pid, X.AnyPropertyType)
                found.append((window, int(pid.value[0]) if pid else None))
            except Exception:  # the window went away while we looked
                continue
        return found

    def window_of(self, pid):
        """The X window of our process's dialog, once no other process shows one."""
        deadline = time.monotonic() + POLL_TIMEOUT
        while True:
            found = self.captioned_windows()
            ours = [window for window, owner in found if owner == pid]
            others = [owner for _, owner in found if owner != pid]
            if ours and not others:
                return ours[0]
            if time.monotonic() >= deadline:
                if others:
                    raise AssertionError("other processes (pids %s) show a pathdrop dialog: "
                                         "input would not reliably reach ours" % others)
                raise AssertionError("no mapped X window with the caption for pid %d" % pid)
            time.sleep(0.1)

    def move_pointer(self, x, y):
        """Moves the pointer; returns the top-level window now under it."""
        xtest.fake_input(self.d, X.MotionNotify, x=x, y=y)
        self.d.sync()
        pointer = self.root.query_pointer()
        if (pointer.root_x, pointer.root_y) != (x, y):
            raise AssertionError("the pointer went to %d,%d, not %d,%d"
                                 % (pointer.root_x, pointer.root_y, x, y))
        return pointer.child

    def click(self):
        """Clicks the first button where the pointer is."""
        xtest.fake_input(self.d, X.ButtonPress, 1)
        self.d.sync()
        time.sleep(0.05)
        xtest.fake_input(self.d, X.ButtonRelease, 1)
        self.d.sync()

    def click_on(self, window, point):
        """Clicks at the root point, which must show `window` and not a
        top-level window above it."""
        under = self.move_pointer(*point)
        if getattr(under, "id", None) != window.id:
            raise AssertionError("the top-level window at %d,%d is %r, not the dialog"
                                 % (point[0], point[1], under))
        self.click()

    def focus(self, window):
        # No window manager runs, so nothing else gives the window the X focus.
        window.set_input_focus(X.RevertToParent, X.CurrentTime)
        self.d.sync()
        focus = self.d.get_input_focus().focus
        if getattr(focus, "id", None) != window.id:
            raise AssertionError("the X focus stayed on %r" % focus)

    def key(self, name):
        keycode = self.d.keysym_to_keycode(XK.string_to_keysym(name))
        if not keycode:
            raise AssertionError("no keycode for %s" % name)
        xtest.fake_input(self.d, X.KeyPress, keycode)
        self.d.sync()
        time.sleep(0.05)
        xtest.fake_input(self.d, X.KeyRelease, keycode)
        self.d.sync()

    def describe(self):
        pointer = self.root.query_pointer()
        return "X focus %r, pointer at %d,%d over %r" % (
            self.d.get_input_focus().focus, pointer.root_x, pointer.root_y, pointer.child)


class Pathdrop:
    """One pathdrop.exe process under Wine, and the driver that inspects it."""

    def __init__(self, workdir, exe, driver):
        self.driver_exe = driver
        self.log_path = os.path.join(workdir, "pathdrop-%d.log" % time.monotonic_ns())
        self.log = open(self.log_path, "wb")
        self.window = None  # its X window, once it is shown
        # Output goes to a file, not a pipe: a Wine daemon started on the way
        # would otherwise hold the pipe open.
        self.proc = subprocess.Popen(["wine", exe], stdin=subprocess.DEVNULL, stdout=self.log,
                                     stderr=subprocess.STDOUT, cwd=workdir)

    def driver(self, *args, check=True):
        result = subprocess.run(["wine", self.driver_exe] + [str(a) for a in args],
                                stdin=subprocess.DEVNULL, capture_output=True,
                                timeout=TOOL_TIMEOUT)
        out = result.stdout.decode("utf-8", "replace")
        if check and result.returncode != 0:
            raise AssertionError("driver %s failed (%d): %s%s" % (
                " ".join(map(str, args)), result.returncode, out,
                result.stderr.decode("utf-8", "replace")))
        return out

    def wait_ready(self, x):
        """Waits until the dialog is shown and accepts dropped files, then
        finds its X window through `x`, an XInput."""
        self.driver("wait", int(START_TIMEOUT * 1000))
        self.window = x.window_of(self.proc.pid)

    def rect(self, control_id):
        """The control's (left, top, right, bottom) on the screen; 0 is the
        dialog, whose rectangle includes the frame Wine draws, title bar and all."""
        return tuple(int(v) for v in self.driver("rect", control_id).split())

    def centre(self, control_id):
        left, top, right, bottom = self.rect(control_id)
        return (left + right) // 2, (top + bottom) // 2

    def items(self):
        return self.driver("list").splitlines()

    def focus_id(self):
        return self.driver("focus").strip()

    def running(self):
        return self.proc.poll() is None

    def wait_exit(self):
        """The exit code, or None if the process still runs after EXIT_TIMEOUT."""
        try:
            return self.proc.wait(timeout=EXIT_TIMEOUT)
        except subprocess.TimeoutExpired:
            return None

    def output(self):
        self.log.flush()
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def stop(self):
        if self.running():
            self.proc.kill()
        self.proc.wait(timeout=EXIT_TIMEOUT)
        self.log.close()


def ansi_text(field):
    """A text field of the stand-in's log: code page 932 bytes as hex, or "-"."""
    return "" if field == "-" else bytes.fromhex(field).decode("cp932")


class Standin:
    """One kobble_standin.exe process under Wine, with its event log."""

    def __init__(self, workdir, exe):
        stamp = time.monotonic_ns()
        self.log_path = os.path.join(workdir, "standin-%d.log" % stamp)
        self.ready_path = os.path.join(workdir, "standin-%d.ready" % stamp)
        self.output_path = os.path.join(workdir, "standin-%d.out" % stamp)
        self.output = open(self.output_path, "wb")
        self.proc = subprocess.Popen(
            ["wine", exe, "--log", wine_path(self.log_path), "--ready", wine_path(self.ready_path)],
            stdin=subprocess.DEVNULL, stdout=self.output, stderr=subprocess.STDOUT, cwd=workdir)

    def wait_ready(self):
        """Waits for the ready file, written once the window exists."""
        deadline = time.monotonic() + START_TIMEOUT
        while not os.path.exists(self.ready_path):
            if self.proc.poll() is not None:
                raise AssertionError("the stand-in exited with %s: %r"
                                     % (self.proc.returncode, self.startup_output()))
            if time.monotonic() >= deadline:
                raise AssertionError("the stand-in wrote no ready file in %.0f s" % START_TIMEOUT)
            time.sleep(0.1)

    def events(self):
        """The log's lines as (milliseconds, event, [fields after the event])."""
        if not os.path.exists(self.log_path):
            return []
        with open(self.log_path, "rb") as f:
            lines = f.read().decode("ascii").split("\n")
        # A line is written whole, so only the text after the last "\n" can be cut.
        return [(int(ms), event, fields)
                for ms, event, *fields in (line.split(" ") for line in lines[:-1])]

    def sent(self):
        """The texts that Enter sent, decoded from code page 932."""
        return [ansi_text(fields[0]) for _, event, fields in self.events() if event == "sent"]

    def startup_output(self):
        self.output.flush()
        with open(self.output_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(timeout=EXIT_TIMEOUT)
        self.output.close()
