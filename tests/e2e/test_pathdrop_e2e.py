#!/usr/bin/python3
"""End-to-end tests of pathdrop.exe: the program runs under Wine as its own
process and is driven from outside the way a user drives it, with files
dragged from a native X client and real X pointer and keyboard input.

The caller provides the environment: DISPLAY, WINEPREFIX (with a running
wineserver), LANG and the qemu settings (scripts/env.sh), plus
PATHDROP_EXE, PATHDROP_DRIVER, PATHDROP_XDND_DRAG and PATHDROP_STANDIN, the
program under test, the two tools and the stand-in for the Kobble chat client,
and PYTHONPATH naming tools/, where x_session.py does the driving.
"""

import contextlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from x_session import (EXIT_CANCEL, EXIT_OK, EXIT_TIMEOUT, IDC_AUTOCLIPBOARD, IDC_AUTOSEND,
                       IDC_COPY, IDC_FILELIST, IDOK, Pathdrop, Standin, XInput, drag,
                       make_sample_files, poll, save_screenshot, wine_path, x_clipboard_text)


def required_env(name):
    value = os.environ.get(name)
    if not value:
        raise RuntimeError("%s is not set; run the tests through CTest (scripts/test)" % name)
    return value


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
        app = Pathdrop(self.workdir, required_env("PATHDROP_EXE"), required_env("PATHDROP_DRIVER"))
        try:
            with self.reporting(app, label):
                try:
                    app.wait_ready(self.x)
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
                    if shutil.which("import") and save_screenshot(shot):
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
        value = poll(read, expected)
        self.assertEqual(value, expected, what)
        return value

    def make_files(self):
        return make_sample_files(tempfile.mkdtemp(prefix="drop-", dir=self.workdir))

    def drag(self, point, paths):
        drag(required_env("PATHDROP_XDND_DRAG"), point, paths)

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
        self.x.click_on(app.window, point)
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
            self.x.click_on(app.window, app.centre(IDOK))
            self.assert_exit(app, EXIT_OK, "a click on the close button")


def press_escape(test, app):
    test.x.focus(app.window)
    test.x.key("Escape")


def click_caption_close_box(test, app):
    x, y = (int(v) for v in app.driver("closebox").split())
    test.x.click_on(app.window, (x, y))


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
        standin = Standin(self.workdir, required_env("PATHDROP_STANDIN"))
        try:
            standin.wait_ready()
            # Started after the stand-in, the dialog is mapped above it.
            with self.pathdrop("relay") as app, self.reporting(app, "relay"):
                try:
                    self.x.click_on(app.window, app.centre(IDC_AUTOSEND))
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
