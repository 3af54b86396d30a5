#!/usr/bin/python3
"""Shows the road of one drop through a built pathdrop.exe, headless:

    show_road.py BUILD_DIR

starts the stand-in chat client and pathdrop under Wine, ticks both check
boxes with real X clicks, drops sample files (made in BUILD_DIR/road) from the
native X drag source, and prints what came out: the file list, the X
clipboard as a native client reads it, and what reached the chat client's
input field. It saves a screenshot of the dialog to BUILD_DIR/screenshot.png,
then clicks the close button and prints pathdrop's exit code.

Runs in scripts/run's environment (DISPLAY on a virtual X server, WINEPREFIX
with a running wineserver; see x_session.py). Exit status 0 when every step
showed up in time and pathdrop ended normally (exit code 1 or 2), 1 otherwise.
"""

import contextlib
import os
import shutil
import sys

from x_session import (EXIT_CANCEL, EXIT_OK, EXIT_TIMEOUT, IDC_AUTOCLIPBOARD, IDC_AUTOSEND,
                       IDC_FILELIST, IDOK, POLL_TIMEOUT, Pathdrop, Standin, XInput, ansi_text, drag,
                       make_sample_files, poll, save_screenshot, wine_path, x_clipboard_text)

TOOLS_DIR = os.path.dirname(os.path.abspath(__file__))
CHECK_BOXES = [(IDC_AUTOCLIPBOARD, "いきなりクリップボード"), (IDC_AUTOSEND, "いきなりKobbleへ")]
KEY_NAMES = {"0xd": "Enter"}


def await_value(read, expected, what):
    value = poll(read, expected)
    if value != expected:
        raise AssertionError("%s did not show up within %.0f s:\n  expected %r\n  last read %r"
                             % (what, POLL_TIMEOUT, expected, value))
    return value


def print_block(title, lines):
    print(title)
    for line in lines:
        print("  " + line)


def field_log(events):
    """The stand-in's log as lines, timed from its first event."""
    if not events:
        return []
    first = events[0][0]
    lines = []
    for ms, event, fields in events:
        if event in ("settext", "sent"):
            detail = ansi_text(fields[0])
        elif event in ("keydown", "keyup"):
            detail = "%s (lParam %s)" % (KEY_NAMES.get(fields[0], fields[0]), fields[1])
        else:
            detail = " ".join(fields)
        lines.append("%5d ms  %-7s  %s" % (ms - first, event, detail))
    return lines


def show_road(build_dir, cleanup):
    """Runs the road, `cleanup` (an ExitStack) stopping what it starts;
    returns pathdrop's exit code, or None if it did not end in time."""
    workdir = os.path.join(build_dir, "road")
    tools_dir = os.path.join(build_dir, "tools")
    x = XInput()
    cleanup.callback(x.close)
    standin = Standin(workdir, os.path.join(tools_dir, "kobble_standin.exe"))
    cleanup.callback(standin.stop)
    standin.wait_ready()
    print("the stand-in chat client is up (pid %d)" % standin.proc.pid)
    # Started after the stand-in, the dialog is mapped above it.
    app = Pathdrop(workdir, os.path.join(build_dir, "pathdrop.exe"),
                   os.path.join(tools_dir, "pathdrop_driver.exe"))
    cleanup.callback(app.stop)
    cleanup.callback(report_output, app)
    app.wait_ready(x)
    print("pathdrop's dialog is up (pid %d)" % app.proc.pid)

    for control_id, label in CHECK_BOXES:
        x.click_on(app.window, app.centre(control_id))
        print("clicked the check box %s (%d)" % (label, control_id))

    paths = make_sample_files(os.path.join(workdir, "drop"))
    expected = [wine_path(path) for path in paths]
    before = x_clipboard_text()
    drag(os.path.join(TOOLS_DIR, "xdnd_drag.py"), app.centre(IDC_FILELIST), paths)
    print()
    print_block("dropped from tools/xdnd_drag.py onto the list:", paths)

    # The relay holds the dialog about half a second a path; the stand-in's
    # log shows when it is done without waiting on the dialog.
    await_value(standin.sent, expected, "every dropped path sent by the stand-in chat client")
    print()
    print_block("the list (driver list):",
                await_value(app.items, expected, "the dropped paths in the list"))

    # Read while pathdrop runs: Wine's clipboard content goes with its last process.
    text = await_value(x_clipboard_text, "".join(path + "\n" for path in expected),
                       "the list on the X clipboard")
    print()
    print("the X clipboard before the drop: %s" % ("nothing" if before is None else repr(before)))
    print_block("the X clipboard after it (xclip -o -selection clipboard), one path a line, "
                "each ended by LF:", text.splitlines())

    print()
    print_block("the messages the stand-in chat client sent:", standin.sent())
    print_block("what reached its input field, from its log:", field_log(standin.events()))

    print()
    screenshot = os.path.join(build_dir, "screenshot.png")
    if not save_screenshot(screenshot, app.rect(0)):
        raise AssertionError("ImageMagick's import could not save " + screenshot)
    print("screenshot: " + screenshot)

    x.click_on(app.window, app.centre(IDOK))
    print("clicked the close button")
    return app.wait_exit()


def report_output(app):
    """Passes on what pathdrop wrote to its output, which is normally nothing."""
    output = app.output()
    if output:
        print("pathdrop's output: %r" % output, file=sys.stderr)


def main():
    if len(sys.argv) != 2:
        print("usage: show_road.py BUILD_DIR", file=sys.stderr)
        return 2
    build_dir = os.path.abspath(sys.argv[1])
    shutil.rmtree(os.path.join(build_dir, "road"), ignore_errors=True)
    os.makedirs(os.path.join(build_dir, "road"))
    try:
        with contextlib.ExitStack() as cleanup:
            code = show_road(build_dir, cleanup)
    except AssertionError as failure:
        print("show_road: %s" % failure, file=sys.stderr)
        return 1
    if code is None:
        print("show_road: pathdrop still ran %.0f s after the close button" % EXIT_TIMEOUT,
              file=sys.stderr)
        return 1
    print("pathdrop exit code: %d" % code)
    return 0 if code in (EXIT_OK, EXIT_CANCEL) else 1


if __name__ == "__main__":
    sys.exit(main())
