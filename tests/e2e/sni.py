#!/usr/bin/python3
"""Looks at and drives StatusNotifierItems on the session bus, as a tray host would.
sni.py host | items | prop ITEM NAME | labels ITEM | click ITEM LABEL | call ITEM METHOD
(host: whether a host registered; ITEM as items prints it; labels as a host shows them, '_' the
mnemonic marker, one JSON string a line, null a separator; METHOD e.g. Activate at (0, 0))"""
import json
import re
import sys

import dbus

WATCHER, ITEM, MENU, PROPS = "org.kde.StatusNotifierWatcher", "org.kde.StatusNotifierItem", \
    "com.canonical.dbusmenu", dbus.PROPERTIES_IFACE
bus = dbus.SessionBus()


def item_object(item):
    name, _, path = item.partition(" ")
    return bus.get_object(name, path, introspect=False)


def menu():  # (object, [(id, label shown or None for a separator)])
    obj = bus.get_object(sys.argv[2].partition(" ")[0], item_object(sys.argv[2]).Get(ITEM, "Menu", dbus_interface=PROPS),
                         introspect=False)
    _, layout = obj.GetLayout(0, -1, dbus.Array([], signature="s"), dbus_interface=MENU)
    return obj, [(int(c[0]), None if c[1].get("type") == "separator" else re.sub("_(.?)", r"\1", str(c[1].get("label")), flags=re.S))
                 for c in layout[2]]


def main(command, *args):
    watcher = bus.get_object(WATCHER, "/StatusNotifierWatcher", introspect=False)
    if command == "host":
        return 0 if watcher.Get(WATCHER, "IsStatusNotifierHostRegistered", dbus_interface=PROPS) else 1
    if command == "items":  # hosts store "name/path" or just "name"
        for name, slash, path in (str(e).partition("/") for e in watcher.Get(WATCHER, "RegisteredStatusNotifierItems", dbus_interface=PROPS)):
            print(name, "/" + path if slash else "/StatusNotifierItem")
    elif command == "prop":
        value = item_object(args[0]).Get(ITEM, args[1], dbus_interface=PROPS)
        print(" ".join(f"{int(w)}x{int(h)}:{len(d)}" for w, h, d in value) if args[1] == "IconPixmap" else value)
    elif command == "labels":
        print(*(json.dumps(label, ensure_ascii=False) for _, label in menu()[1]), sep="\n")
    elif command == "click":
        obj, items = menu()
        ids = [i for i, label in items if label == args[1]] or sys.exit(f"no menu item labelled {json.dumps(args[1])}")
        obj.Event(ids[0], "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0), dbus_interface=MENU)
    elif command == "call":
        getattr(item_object(args[0]), args[1])(0, 0, dbus_interface=ITEM)
    else:
        sys.exit(__doc__)
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
