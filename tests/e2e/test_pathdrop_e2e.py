#!/usr/bin/python3
"""End-to-end tests of pathdrop.exe: the program runs under Wine as its own
process and is driven from outside the way a user drives it, with files
dragged from a native X client and real X pointer and keyboard input.

The caller provides the environment: DISPLAY, WINEPREFIX (with a running
wineserver), LANG and the qemu settings (scripts/env.sh), plus
PATHDROP_EXE, PATHDROP_DRIVER, PATHDROP_XDND_DRAG and PATHDROP_STANDIN, the
program under test, the two tools and the stand-in for the Kobble chat client.
xclip, on PATH, reads the X clipboard.
"""

import contextlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

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


def required_env(name):
    value = os.environ.get(name)
    if not value:
        raise RuntimeError("%s is not set; run the tests through CTest (scripts/test)" % name)
    return value


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

    def __init__(self, workdir):
        self.log_path = os.path.join(workdir, "pathdrop-%d.log" % time.monotonic_ns())
        self.log = open(self.log_path, "wb")
        self.window = None  # its X window, once it is shown
        # Output goes to a file, not a pipe: a Wine daemon started on the way
        # would otherwise hold the pipe open.
        self.proc = subprocess.Popen(["wine", required_env("PATHDROP_EXE")],
                                     stdin=subprocess.DEVNULL, stdout=self.log,
                                     stderr=subprocess.STDOUT, cwd=workdir)

    def driver(self, *args, check=True):
        result = subprocess.run(["wine", required_env("PATHDROP_DRIVER")] + [str(a) for a in args],
                                stdin=subprocess.DEVNULL, capture_output=True,
                                timeout=TOOL_TIMEOUT)
        out = result.stdout.decode("utf-8", "replace")
        if check and result.returncode != 0:
            raise AssertionError("driver %s failed (%d): %s%s" % (
                " ".join(map(str, args)), result.returncode, out,
                result.stderr.decode("utf-8", "replace")))
        return out

    def wait_ready(self):
        """Waits until the dialog is shown and accepts dropped files."""
        self.driver("wait", int(START_TIMEOUT * 1000))

    def rect(self, control_id):
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


class Standin:
    """One kobble_standin.exe process under Wine, with its event log."""

    def __init__(self, workdir):
        stamp = time.monotonic_ns()
        self.log_path = os.path.join(workdir, "standin-%d.log" % stamp)
        self.ready_path = os.path.join(workdir, "standin-%d.ready" % stamp)
        self.output_path = os.path.join(workdir, "standin-%d.out" % stamp)
        self.output = open(self.output_path, "wb")
        self.proc = subprocess.Popen(
            ["wine", required_env("PATHDROP_STANDIN"), "--log", wine_path(self.log_path),
             "--ready", wine_path(self.ready_path)],
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
        """The log's lines, each split into its fields after the time stamp."""
        if not os.path.exists(self.log_path):
            return []
        with open(self.log_path, "rb") as f:
            lines = f.read().decode("ascii").split("\n")
        # A line is written whole, so only the text after the last "\n" can be cut.
        return [line.split(" ")[1:] for line in lines[:-1]]

    def sent(self):
        """The texts that Enter sent, decoded from code page 932."""
        return [bytes.fromhex(fields[1]).decode("cp932") if fields[1] != "-" else ""
                for fields in self.events() if fields[0] == "sent"]

    def startup_output(self):
        self.output.flush()
        with open(self.output_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(timeout=EXIT_TIMEOUT)
        self.output.close()


class EndToEndTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.workdir = tempfile.mkdtemp(prefix="pathdrop-e2e-")
        cls.addClassCleanup(shutil.rmtree, cls.workdir, True)
        cls.x = XInput()
        cls.addClassCleanup(cls.x.close)

    @contextlib.contextmanager
    def pathdrop(self, label):
        """A started, ready pathdrop process, killed on the way out if still running."""
        app = Pathdrop(self.workdir)
        try:
            with self.reporting(app, label):
                try:
                    app.wait_ready()
                    app.window = self.x.window_of(app.proc.pid)
                except AssertionError as failure:
                    self.fail("pathdrop did not come up: %s" % failure)
                yield app
        finally:
            app.stop()

    @contextlib.contextmanager
    def reporting(self, app, label):
        """Prints the state of the program and the display when the block fails."""
        try:
            yield
        except BaseException:
            lines = ["--- diagnostics for %s [%s]" % (self.id(), label), self.x.describe()]
            if app.running():
                shot = os.path.join(tempfile.gettempdir(), "pathdrop-e2e-%d.png" % app.proc.pid)
                try:
                    lines.append(app.driver("state", check=False).strip())
                    if shutil.which("import") and subprocess.run(
                            ["import", "-window", "root", shot], capture_output=True,
                            timeout=TOOL_TIMEOUT).returncode == 0:
                        lines.append("screenshot: " + shot)
                except subprocess.TimeoutExpired as timeout:
                    lines.append("diagnostics cut short: %s" % timeout)
            else:
                lines.append("pathdrop exited with %s" % app.proc.returncode)
            lines.append("pathdrop output: %r" % app.output())
            print("\n".join(lines), file=sys.stderr)
            raise

    def poll(self, read, expected, what):
        """Reads until the value is the expected one or the wait runs out;
        returns the value read."""
        deadline = time.monotonic() + POLL_TIMEOUT
        value = read()
        while value != expected and time.monotonic() < deadline:
            time.sleep(0.1)
            value = read()
        self.assertEqual(value, expected, what)
        return value

    def click_on(self, app, point):
        # The click must land on our dialog, not on a window above it.
        window = self.x.move_pointer(*point)
        self.assertEqual(getattr(window, "id", None), app.window.id,
                         "the top-level window at %d,%d is not the dialog" % point)
        self.x.click()

    def make_files(self):
        top = os.path.realpath(tempfile.mkdtemp(prefix="drop-", dir=self.workdir))
        spaced = os.path.join(top, "x y", "a b.txt")
        japanese = os.path.join(top, "日本語のファイル.txt")
        folder = os.path.join(top, "フォルダ")
        os.makedirs(os.path.dirname(spaced))
        os.makedirs(folder)
        for path in (spaced, japanese):
            with open(path, "w") as f:
                f.write("pathdrop\n")
        return spaced, japanese, folder

    def drag(self, point, paths):
        result = subprocess.run(
            [sys.executable, required_env("PATHDROP_XDND_DRAG"), "--window-name", CAPTION,
             "--at", "%d,%d" % point, "--timeout", "20", "--verbose"] + list(paths),
            stdin=subprocess.DEVNULL, capture_output=True, timeout=TOOL_TIMEOUT)
        self.assertEqual(result.returncode, 0, "the drop was not accepted:\n"
                         + result.stderr.decode("utf-8", "replace"))

    def assert_exit(self, app, expected, action):
        code = app.wait_exit()
        self.assertIsNotNone(code, "pathdrop still runs %.0f s after %s" % (EXIT_TIMEOUT, action))
        self.assertEqual(code, expected, "exit code after " + action)


class DropTest(EndToEndTest):
    def copy_to_x_clipboard(self, app, point, listed):
        """Clicks the copy button; a native X client must then read `listed`,
        the items as the driver read them, from the CLIPBOARD selection: one
        path a line, in list order, and nothing else."""
        text = "".join(path + "\n" for path in listed)
        # The paths are new to this run and the drop alone copies nothing
        # (automatic copying is off), so only the click can put them there.
        self.assertNotEqual(x_clipboard_text(), text, "the clipboard before the click")
        self.click_on(app, point)
        # The click is handled asynchronously: poll until the selection changes.
        self.poll(x_clipboard_text, text, "the X clipboard after the click")

    def test_drops_fill_the_list_copy_button_copies_it_close_button_ends_with_idok(self):
        spaced, japanese, folder = self.make_files()
        # Neither order is the sorted one, so a sorted list would show.
        drops = [
            ("path with spaces, Japanese name, folder", [spaced, japanese, folder]),
            ("a second drop replaces the list", [folder, spaced]),
        ]
        with self.pathdrop("drops") as app:
            point = app.centre(IDC_FILELIST)
            copy_point = app.centre(IDC_COPY)
            for name, paths in drops:
                with self.subTest(name), self.reporting(app, name):
                    self.drag(point, paths)
                    # The drop is posted to the dialog: poll until it is handled.
                    listed = self.poll(app.items, [wine_path(p) for p in paths],
                                       "the listed paths")
                    # Wine's clipboard data lives only while a Wine process of
                    # the prefix runs, so it is read while pathdrop still runs.
                    self.copy_to_x_clipboard(app, copy_point, listed)
            self.click_on(app, app.centre(IDOK))
            self.assert_exit(app, EXIT_OK, "a click on the close button")


def press_escape(test, app):
    test.x.focus(app.window)
    test.x.key("Escape")


def click_caption_close_box(test, app):
    x, y = (int(v) for v in app.driver("closebox").split())
    test.click_on(app, (x, y))


def press_enter_on_initial_focus(test, app):
    test.x.focus(app.window)
    test.poll(app.focus_id, str(IDC_FILELIST), "the control with the initial focus")
    test.x.key("Return")


def tab_to_check_box_then_enter(test, app):
    test.x.focus(app.window)
    test.poll(app.focus_id, str(IDC_FILELIST), "the control with the initial focus")
    test.x.key("Tab")
    test.poll(app.focus_id, str(IDC_AUTOCLIPBOARD), "the control focused by Tab")
    test.x.key("Return")


class CloseTest(EndToEndTest):
    # A click on the close button ends DropTest's process.
    CASES = [
        ("Escape", press_escape, EXIT_CANCEL),
        ("a click on the caption's close box", click_caption_close_box, EXIT_CANCEL),
        ("Enter on the list box", press_enter_on_initial_focus, EXIT_OK),
        ("Tab to a check box, then Enter", tab_to_check_box_then_enter, EXIT_OK),
    ]

    def test_closing_methods_end_with_their_exit_codes(self):
        for name, action, expected in self.CASES:
            with self.subTest(name), self.pathdrop(name) as app:
                action(self, app)
                self.assert_exit(app, expected, name)


class RelayTest(EndToEndTest):
    def test_drop_with_auto_send_ticked_sends_each_path_to_the_chat_field_in_order(self):
        spaced, japanese, folder = self.make_files()
        paths = [spaced, japanese, folder]
        expected = [wine_path(p) for p in paths]
        standin = Standin(self.workdir)
        try:
            standin.wait_ready()
            # Started after the stand-in, the dialog is mapped above it.
            with self.pathdrop("relay") as app, self.reporting(app, "relay"):
                try:
                    self.click_on(app, app.centre(IDC_AUTOSEND))
                    self.drag(app.centre(IDC_FILELIST), paths)
                    self.poll(app.items, expected, "the listed paths")
                    # About half a second a path: poll until the last one is sent.
                    self.poll(standin.sent, expected, "the texts sent in the chat client")
                    # Nothing more arrives after the last path.
                    time.sleep(1.0)
                    self.assertEqual(standin.sent(), expected, "the texts sent, a second later")
                except BaseException:
                    print("stand-in log: %r" % standin.events(), file=sys.stderr)
                    raise
        finally:
            standin.stop()


if __name__ == "__main__":
    unittest.main()
