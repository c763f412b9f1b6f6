#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Looks at zaprun's accessibility tree over AT-SPI, as a screen reader would.
atspi.py unnamed | window NAME | showing TEXT
(unnamed: prints each control without a name, as a path of roles, and fails if there is one;
window: whether a top-level window of that name is in the tree; showing: whether a showing node's
name contains TEXT)"""
import sys

import pyatspi

# Structure a user does not stop at; everything else that is focusable, acts or shows content
# must be named.
STRUCTURE = {"filler", "panel", "scroll bar", "scroll pane", "viewport", "layered pane"}
CONTENT = {"frame", "dialog", "window", "table", "text", "label", "push button", "menu bar",
           "menu", "menu item", "popup menu", "table cell", "icon", "image"}


def application():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "ZapRun":
            return app
    sys.exit("ZapRun is not on the accessibility bus")


def nodes(node, path=()):
    path += (node.getRoleName(),)
    yield node, path
    for child in node:
        if child is not None:
            yield from nodes(child, path)


def is_control(node):
    role = node.getRoleName()
    if role in CONTENT:
        return True
    acts = node.queryAction().nActions > 0 if "Action" in pyatspi.listInterfaces(node) else False
    return role not in STRUCTURE and (acts or node.getState().contains(pyatspi.STATE_FOCUSABLE))


def unnamed():
    bad = [" > ".join(path) for node, path in nodes(application())
           if is_control(node) and not node.name.strip()]
    for path in bad:
        print("# unnamed:", path)
    return not bad


def window(name):
    return any(child.name == name for child in application())


def showing(text):
    return any(text in node.name and node.getState().contains(pyatspi.STATE_SHOWING)
               for node, _ in nodes(application()))


if __name__ == "__main__":
    command, args = sys.argv[1], sys.argv[2:]
    sys.exit(0 if {"unnamed": unnamed, "window": window, "showing": showing}[command](*args) else 1)
