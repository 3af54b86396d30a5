#!/usr/bin/python3
"""Drops files on an X window the way a Linux file manager does, over XDND.

    xdnd_drag.py --window-name CAPTION [--at X,Y] [--timeout S] PATH...

The target is the mapped top-level window whose _NET_WM_NAME (or WM_NAME) is
CAPTION; X,Y are root coordinates (default: the window's centre). The files
are offered as text/uri-list. A refused drop is retried until the timeout,
since a target may announce XdndAware before it accepts files.

Exit status: 0 when the target accepted and finished the drop, 1 when it
refused or did not answer in time, 2 on a usage error.
"""

import argparse
import os
import select
import sys
import time
import urllib.parse

from Xlib import X, Xatom, display
from Xlib.protocol import event

XDND_VERSION = 5


class DropFailed(Exception):
    pass


def uri_list(paths):
    """file:// URIs of the absolute paths, percent-encoded UTF-8, CRLF ended."""
    lines = []
    for path in paths:
        absolute = os.path.abspath(path).encode("utf-8")
        lines.append("file://" + urllib.parse.quote(absolute, safe="/") + "\r\n")
    return "".join(lines).encode("ascii")


class DragSource:
    def __init__(self, disp, data, verbose):
        self.d = disp
        self.data = data
        self.verbose = verbose
        self.atom = {name: disp.intern_atom(name) for name in (
            "XdndAware", "XdndEnter", "XdndPosition", "XdndStatus", "XdndLeave",
            "XdndDrop", "XdndFinished", "XdndSelection", "XdndActionCopy",
            "TARGETS", "UTF8_STRING", "XDND_DRAG_TIME", "_NET_WM_NAME", "text/uri-list")}
        root = disp.screen().root
        self.root = root
        self.window = root.create_window(
            0, 0, 1, 1, 0, X.CopyFromParent, X.InputOutput,
            override_redirect=True, event_mask=X.PropertyChangeMask)
        self.time = self.server_time()
        self.window.set_selection_owner(self.atom["XdndSelection"], self.time)
        if disp.get_selection_owner(self.atom["XdndSelection"]) != self.window:
            raise DropFailed("could not own XdndSelection")

    def log(self, text):
        if self.verbose:
            print("xdnd_drag: " + text, file=sys.stderr)

    def server_time(self):
        """A server timestamp, from the PropertyNotify of a no-op change."""
        self.window.change_property(self.atom["XDND_DRAG_TIME"], Xatom.STRING, 8, b"",
                                    X.PropModeAppend)
        self.d.flush()
        deadline = time.monotonic() + 5
        while True:
            ev = self.next_event(deadline)
            if ev is None:
                raise DropFailed("no PropertyNotify from the X server")
            if ev.type == X.PropertyNotify and ev.window == self.window:
                return ev.time

    def next_event(self, deadline):
        """The next event, serving selection requests on the way; None at the deadline."""
        while True:
            if not self.d.pending_events():
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    return None
                select.select([self.d.fileno()], [], [], remaining)
                if not self.d.pending_events():
                    continue
            ev = self.d.next_event()
            if ev.type == X.SelectionRequest:
                self.serve(ev)
                continue
            return ev

    def serve(self, req):
        prop = req.property or req.target
        if req.selection != self.atom["XdndSelection"]:
            prop = X.NONE
        elif req.target == self.atom["text/uri-list"]:
            req.requestor.change_property(prop, req.target, 8, self.data)
        elif req.target == self.atom["TARGETS"]:
            req.requestor.change_property(
                prop, Xatom.ATOM, 32, [self.atom["TARGETS"], self.atom["text/uri-list"]])
        else:
            prop = X.NONE
        self.log("selection request for %s: %s" % (
            self.d.get_atom_name(req.target), "served" if prop else "refused"))
        req.requestor.send_event(event.SelectionNotify(
            time=req.time, requestor=req.requestor, selection=req.selection,
            target=req.target, property=prop), event_mask=0)
        self.d.flush()

    def send(self, target, name, l1=0, l2=0, l3=0, l4=0):
        target.send_event(event.ClientMessage(
            window=target, client_type=self.atom[name],
            data=(32, [self.window.id, l1, l2, l3, l4])), event_mask=0)
        self.d.flush()
        self.log("sent " + name)

    def wait_message(self, target, name, deadline):
        while True:
            ev = self.next_event(deadline)
            if ev is None:
                return None
            if (ev.type == X.ClientMessage and ev.client_type == self.atom[name]
                    and ev.data[1][0] == target.id):
                return ev.data[1]

    def drop(self, target, x, y, timeout):
        version = min(XDND_VERSION, target_version(self, target))
        deadline = time.monotonic() + timeout
        attempt = 0
        while True:
            attempt += 1
            # Each attempt is a fresh entry of the pointer into the window.
            self.send(target, "XdndEnter", version << 24, self.atom["text/uri-list"])
            self.send(target, "XdndPosition", 0, (x << 16) | y, self.time,
                      self.atom["XdndActionCopy"])
            status = self.wait_message(target, "XdndStatus", deadline)
            if status is None:
                self.send(target, "XdndLeave")
                raise DropFailed("no XdndStatus from 0x%x within %.1f s (%d attempts)"
                                 % (target.id, timeout, attempt))
            if status[1] & 1:
                break
            self.log("attempt %d refused" % attempt)
            self.send(target, "XdndLeave")
            if time.monotonic() + 0.2 >= deadline:
                raise DropFailed("0x%x refused the drop at %d,%d for %.1f s (%d attempts)"
                                 % (target.id, x, y, timeout, attempt))
            self.next_event(time.monotonic() + 0.2)
        self.log("accepted on attempt %d, action %s" % (attempt, self.atom_name(status[4])))
        self.send(target, "XdndDrop", 0, self.time)
        finished = self.wait_message(target, "XdndFinished", deadline + 5)
        if finished is None:
            raise DropFailed("no XdndFinished from 0x%x" % target.id)
        if version >= 5 and not finished[1] & 1:
            raise DropFailed("0x%x finished the drop without accepting it" % target.id)
        self.log("finished, action %s" % self.atom_name(finished[2]))

    def atom_name(self, atom):
        return self.d.get_atom_name(atom) if atom else "None"


def target_version(source, target):
    prop = target.get_full_property(source.atom["XdndAware"], Xatom.ATOM)
    if prop is None or not len(prop.value):
        raise DropFailed("window 0x%x is not XdndAware" % target.id)
    return int(prop.value[0])


def window_name(source, window):
    prop = window.get_full_property(source.atom["_NET_WM_NAME"], source.atom["UTF8_STRING"])
    if prop is not None:
        return prop.value.decode("utf-8", "replace")
    prop = window.get_full_property(Xatom.WM_NAME, X.AnyPropertyType)
    if prop is not None:
        value = prop.value
        return value.decode("latin-1") if isinstance(value, bytes) else str(value)
    return None


def find_target(source, name, timeout):
    """The mapped, XdndAware top-level window called name; waits for it."""
    deadline = time.monotonic() + timeout
    while True:
        for window in reversed(source.root.query_tree().children):
            try:
                if (window.get_attributes().map_state == X.IsViewable
                        and window_name(source, window) == name
                        and window.get_full_property(source.atom["XdndAware"], Xatom.ATOM)):
                    return window
            except Exception:  # the window went away while we looked
                continue
        if time.monotonic() >= deadline:
            raise DropFailed("no mapped XdndAware window named %r" % name)
        time.sleep(0.1)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--window-name", required=True, help="the target's window title")
    parser.add_argument("--at", help="X,Y root coordinates of the drop")
    parser.add_argument("--timeout", type=float, default=10.0,
                        help="seconds to find the window and have the drop accepted")
    parser.add_argument("--verbose", action="store_true")
    parser.add_argument("paths", nargs="+")
    args = parser.parse_args()

    point = None
    if args.at:
        try:
            point = tuple(int(v) for v in args.at.split(","))
            if len(point) != 2 or min(point) < 0:
                raise ValueError
        except ValueError:
            parser.error("--at takes X,Y: two non-negative integers")

    disp = display.Display()
    try:
        source = DragSource(disp, uri_list(args.paths), args.verbose)
        start = time.monotonic()
        target = find_target(source, args.window_name, args.timeout)
        if point is None:
            geo = target.get_geometry()
            pos = source.root.translate_coords(target, 0, 0)
            point = (pos.x + geo.width // 2, pos.y + geo.height // 2)
        remaining = max(args.timeout - (time.monotonic() - start), 1.0)
        source.log("dropping on 0x%x at %d,%d" % (target.id, point[0], point[1]))
        source.drop(target, point[0], point[1], remaining)
    except DropFailed as failure:
        print("xdnd_drag: %s" % failure, file=sys.stderr)
        return 1
    finally:
        disp.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
