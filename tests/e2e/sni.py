#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Looks at and drives StatusNotifierItems on the session bus, as a tray host would.
sni.py host | items | prop ITEM NAME | labels ITEM [ID] | click ITEM LABEL | call ITEM METHOD |
       id ITEM LABEL | menu ITEM METHOD ARGS | watcher
(host: whether a host registered; ITEM as items prints it; labels of the top-level items, or of
the submenu ID's, as a host shows them, '_' the mnemonic marker, one JSON string a line, null a
separator; METHOD e.g. Activate at (0, 0); id: of a top-level menu item; menu: a call of the
exported menu, ARGS a JSON list (or the name of a property for Get), printing the answer as JSON or the error's name; watcher: a watcher that
claims a host and hands its name to any that asks, ending when it has lost the name)"""
import json
import re
import sys

import dbus
import dbus.service

WATCHER, ITEM, MENU, PROPS = "org.kde.StatusNotifierWatcher", "org.kde.StatusNotifierItem", \
    "com.canonical.dbusmenu", dbus.PROPERTIES_IFACE
bus = dbus.SessionBus()


def item_object(item):
    name, _, path = item.partition(" ")
    return bus.get_object(name, path, introspect=False)


def menu(parent=0):  # (object, [(id, label shown or None for a separator)]), one level deep
    obj = bus.get_object(sys.argv[2].partition(" ")[0], item_object(sys.argv[2]).Get(ITEM, "Menu", dbus_interface=PROPS),
                         introspect=False)
    _, layout = obj.GetLayout(parent, 1, dbus.Array([], signature="s"), dbus_interface=MENU)
    return obj, [(int(c[0]), None if c[1].get("type") == "separator" else re.sub("_(.?)", r"\1", str(c[1].get("label")), flags=re.S))
                 for c in layout[2]]


SIGNATURES = {"GetLayout": "iias", "GetGroupProperties": "aias", "GetProperty": "is", "Event": "isvu",
              "EventGroup": "a(isvu)", "AboutToShow": "i", "AboutToShowGroup": "ai"}


def plain(value):  # a D-Bus answer as JSON sees it
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, (dict, dbus.Dictionary)):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    return int(value) if isinstance(value, int) else str(value)


def menu_call(method, args):
    obj = menu()[0]
    try:
        if method == "Get":
            answer = obj.Get(MENU, args, dbus_interface=PROPS, timeout=3)
        else:
            answer = obj.get_dbus_method(method, MENU)(*json.loads(args), signature=SIGNATURES[method], timeout=3)
        print(json.dumps(plain(answer), ensure_ascii=False))
    except dbus.DBusException as error:
        print("error", error.get_dbus_name())


def run_watcher():
    import dbus.mainloop.glib
    from gi.repository import GLib
    loop, items = GLib.MainLoop(), []
    session = dbus.bus.BusConnection(dbus.bus.BUS_SESSION, mainloop=dbus.mainloop.glib.DBusGMainLoop())

    class Watcher(dbus.service.Object):
        @dbus.service.method(WATCHER, in_signature="s")
        def RegisterStatusNotifierItem(self, service):
            items.append(service)

        @dbus.service.method(PROPS, in_signature="ss", out_signature="v")
        def Get(self, _, name):
            return {"IsStatusNotifierHostRegistered": True, "ProtocolVersion": 0,
                    "RegisteredStatusNotifierItems": dbus.Array(items, signature="s")}[name]

    Watcher(session, "/StatusNotifierWatcher")
    session.add_signal_receiver(lambda name: name == WATCHER and loop.quit(), "NameLost", dbus.BUS_DAEMON_IFACE)
    session.request_name(WATCHER, dbus.bus.NAME_FLAG_ALLOW_REPLACEMENT | dbus.bus.NAME_FLAG_REPLACE_EXISTING
                         | dbus.bus.NAME_FLAG_DO_NOT_QUEUE)
    loop.run()


def main(command, *args):
    if command == "watcher":
        return run_watcher()
    watcher = bus.get_object(WATCHER, "/StatusNotifierWatcher", introspect=False)
    if command == "host":
        return 0 if watcher.Get(WATCHER, "IsStatusNotifierHostRegistered", dbus_interface=PROPS) else 1
    if command == "items":  # hosts store "name/path", "name@/path" (GNOME) or just "name"
        for name, slash, path in (str(e).replace("@/", "/", 1).partition("/") for e in watcher.Get(WATCHER, "RegisteredStatusNotifierItems", dbus_interface=PROPS)):
            print(name, "/" + path if slash else "/StatusNotifierItem")
    elif command == "prop":
        value = item_object(args[0]).Get(ITEM, args[1], dbus_interface=PROPS)
        print(" ".join(f"{int(w)}x{int(h)}:{len(d)}" for w, h, d in value) if args[1] == "IconPixmap" else value)
    elif command == "labels":
        print(*(json.dumps(label, ensure_ascii=False) for _, label in menu(int(args[1]) if args[1:] else 0)[1]), sep="\n")
    elif command == "click":
        obj, items = menu()
        ids = [i for i, label in items if label == args[1]] or sys.exit(f"no menu item labelled {json.dumps(args[1])}")
        obj.Event(ids[0], "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0), dbus_interface=MENU)
    elif command == "id":
        print(*[i for i, label in menu()[1] if label == args[1]][:1] or sys.exit(f"no menu item labelled {json.dumps(args[1])}"))
    elif command == "menu":
        menu_call(args[1], args[2])
    elif command == "call":
        getattr(item_object(args[0]), args[1])(0, 0, dbus_interface=ITEM)
    else:
        sys.exit(__doc__)
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
