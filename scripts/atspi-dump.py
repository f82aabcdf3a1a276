#!/usr/bin/python3
"""What a screen reader sees of the running program: its AT-SPI tree.

Prints one line per accessible object (indented by depth): role, name in
quotes, description after a dash, and "[focusable]" for controls a user can
tab to. At the end it lists focusable controls without a name and names that
two focusable controls share (a page tab list is named by its current tab,
so it is left out of that count); the exit status is 1 when there are any.

It needs a desktop session's accessibility bus. Under Xvfb, for example
(-noreset: the bus library's own short X connection would otherwise reset
the server just as the program connects):

  Xvfb :23 -screen 0 1280x1024x24 -noreset & export DISPLAY=:23
  dbus-run-session -- scripts/atspi-dump.py --launch build/app/Q274TCstd

--launch starts the program (with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1, so Qt
exposes its tree without a screen reader running), waits for it on the bus,
optionally presses keys in it (--press "ctrl+k", through xdotool), dumps,
and ends it. Without --launch it dumps an application already running under
the name given by --name.
"""
import argparse
import os
import subprocess
import sys
import time

import pyatspi

# A widget with many rows (the log view) is read row by row; its cells are
# not controls of their own.
MAX_CHILDREN = 200


def find_app(name, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and app.name == name:
                return app
        time.sleep(0.3)
    return None


def walk(acc, depth, out, focusable):
    try:
        role = acc.getRoleName()
        name = acc.name or ""
        description = acc.description or ""
        states = acc.getState()
        can_focus = states.contains(pyatspi.STATE_FOCUSABLE)
        showing = states.contains(pyatspi.STATE_SHOWING)
    except Exception as e:  # an object that went away while we read it
        out.append("  " * depth + "(gone: %s)" % e)
        return
    line = "  " * depth + '%s "%s"' % (role, name)
    if description:
        line += " - " + description
    if can_focus:
        line += " [focusable]"
        # Qt names a page tab list by its current tab: that it shares the
        # name with one of its own tabs is how every tab bar reads.
        if role != "page tab list":
            focusable.append((role, name))
    if not showing:
        line += " (hidden)"
    out.append(line)
    count = acc.childCount
    for i in range(min(count, MAX_CHILDREN)):
        child = acc.getChildAtIndex(i)
        if child is not None:
            walk(child, depth + 1, out, focusable)
    if count > MAX_CHILDREN:
        out.append("  " * (depth + 1) + "... %d more" % (count - MAX_CHILDREN))


def dump(app):
    out, focusable = [], []
    walk(app, 0, out, focusable)
    print("\n".join(out))
    unnamed = [role for role, name in focusable if not name.strip()]
    seen, shared = {}, []
    for role, name in focusable:
        if name.strip() and name in seen:
            shared.append(name)
        seen.setdefault(name, role)
    print("\n%d focusable controls" % len(focusable))
    for role in unnamed:
        print("UNNAMED: a focusable %s" % role)
    for name in sorted(set(shared)):
        print('SHARED NAME: "%s"' % name)
    return 1 if unnamed or shared else 0


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--launch", metavar="PROGRAM", help="start this program, dump it, end it")
    p.add_argument("--name", default="Q274TCstd", help="the application's name on the bus")
    p.add_argument("--press", action="append", default=[], metavar="KEYS",
                   help="xdotool keys pressed in the main window before the dump (repeatable)")
    p.add_argument("--title", default="Q274 Temperature Controller",
                   help="part of the main window's title, for --press")
    p.add_argument("--timeout", type=float, default=30)
    p.add_argument("args", nargs="*", help="the program's own options (after --)")
    a = p.parse_args()

    child = None
    if a.launch:
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
        env.pop("NO_AT_BRIDGE", None)
        child = subprocess.Popen([a.launch] + a.args, env=env)
    try:
        app = find_app(a.name, a.timeout)
        if app is None:
            print("%s did not appear on the accessibility bus" % a.name, file=sys.stderr)
            return 2
        if a.press and child is None:
            print("--press needs --launch", file=sys.stderr)
            return 2
        for keys in a.press:
            subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid", str(child.pid),
                            "--name", a.title, "windowfocus", "--sync", "key", "--delay", "50"] + keys.split(),
                           check=False, timeout=a.timeout)
            time.sleep(1)
        return dump(app)
    finally:
        if child is not None:
            child.terminate()
            try:
                child.wait(10)
            except subprocess.TimeoutExpired:
                child.kill()


if __name__ == "__main__":
    sys.exit(main())
