#!/usr/bin/python3
"""Looks at and drives StatusNotifierItems on the session bus, as a tray host would.

  sni.py host                  exit status 0 when a host has registered with the watcher
  sni.py items                 the items the watcher lists, one "bus-name object-path" a line
  sni.py prop ITEM NAME        one property of the item (ITEM as `items` prints it)
  sni.py labels ITEM           the item's menu as a host shows it (DBusMenu reads '_' as the
                               mnemonic marker, "__" as '_'), one JSON string a line, null for
                               a separator
  sni.py click ITEM TEXT       sends "clicked" to the menu item shown as exactly TEXT
  sni.py call ITEM METHOD      Activate, SecondaryActivate or ContextMenu at (0, 0)
"""
import json
import sys

import dbus

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"


def item_object(bus, item):
    name, _, path = item.partition(" ")
    return bus.get_object(name, path or "/StatusNotifierItem", introspect=False)


def menu_object(bus, item):
    name = item.partition(" ")[0]
    path = item_object(bus, item).Get(ITEM, "Menu", dbus_interface=dbus.PROPERTIES_IFACE)
    return bus.get_object(name, path, introspect=False)


def menu_items(bus, item):
    _, layout = menu_object(bus, item).GetLayout(0, -1, dbus.Array([], signature="s"), dbus_interface=MENU)
    for child in layout[2]:
        yield int(child[0]), child[1]


def shown(label):
    text, marker = [], False
    for c in label:
        if c == "_" and not marker:
            marker = True
            continue
        text.append(c)
        marker = False
    return "".join(text)


def watcher_property(bus, name):
    watcher = bus.get_object(WATCHER, "/StatusNotifierWatcher", introspect=False)
    return watcher.Get(WATCHER, name, dbus_interface=dbus.PROPERTIES_IFACE)


def items(bus):
    for entry in watcher_property(bus, "RegisteredStatusNotifierItems"):
        # Hosts store "name/path" or just "name".
        name, slash, path = str(entry).partition("/")
        print(name, "/" + path if slash else "/StatusNotifierItem")


def main(argv):
    bus = dbus.SessionBus()
    command = argv[1]
    if command == "host":
        return 0 if watcher_property(bus, "IsStatusNotifierHostRegistered") else 1
    if command == "items":
        items(bus)
    elif command == "prop":
        value = item_object(bus, argv[2]).Get(ITEM, argv[3], dbus_interface=dbus.PROPERTIES_IFACE)
        if argv[3] == "IconPixmap":
            print(" ".join(f"{int(w)}x{int(h)}:{len(data)}" for w, h, data in value))
        else:
            print(value)
    elif command == "labels":
        for _, props in menu_items(bus, argv[2]):
            label = props.get("label") if props.get("type") != "separator" else None
            print(json.dumps(shown(str(label)) if label is not None else None, ensure_ascii=False))
    elif command == "click":
        for item_id, props in menu_items(bus, argv[2]):
            if props.get("type") != "separator" and shown(str(props.get("label"))) == argv[3]:
                menu_object(bus, argv[2]).Event(item_id, "clicked", dbus.Int32(0, variant_level=1),
                                                dbus.UInt32(0), dbus_interface=MENU)
                return 0
        print("no menu item labelled", json.dumps(argv[3], ensure_ascii=False), file=sys.stderr)
        return 1
    elif command == "call":
        getattr(item_object(bus, argv[2]), argv[3])(0, 0, dbus_interface=ITEM)
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
