#!/usr/bin/python3
# What a desktop session provides on its bus, as little as the tray application uses: a
# StatusNotifierWatcher with a host (the tray), and the XDG desktop portal's appearance setting
# (no preference).
# Prints "ready" once both names are owned; runs until killed.

import sys

from gi.repository import Gio, GLib

WATCHER_XML = """<node><interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/></interface></node>"""

PORTAL_XML = """<node><interface name="org.freedesktop.portal.Settings">
  <method name="Read"><arg name="namespace" type="s" direction="in"/><arg name="key" type="s" direction="in"/>
    <arg name="value" type="v" direction="out"/></method>
  <signal name="SettingChanged"><arg type="s"/><arg type="s"/><arg type="v"/></signal></interface></node>"""

APPEARANCE = ("org.freedesktop.appearance", "color-scheme")
items, owned = [], []


def on_watcher_call(connection, sender, path, interface, method, params, invocation):
    # RegisterStatusNotifierItem: an item may register by object path, meaning "at the caller's own name".
    service = params.unpack()[0]
    items.append(sender + service if service.startswith("/") else service)
    invocation.return_value(None)


def on_watcher_get(connection, sender, path, interface, name):
    return GLib.Variant("as", items) if name == "RegisteredStatusNotifierItems" else GLib.Variant("b", True)


def on_portal_call(connection, sender, path, interface, method, params, invocation):
    if params.unpack() != APPEARANCE:
        invocation.return_dbus_error("org.freedesktop.portal.Error.NotFound", "no such setting")
    else:  # the value wrapped in one variant more
        invocation.return_value(GLib.Variant("(v)", (GLib.Variant("v", GLib.Variant("u", 0)),)))


def on_bus(connection, name):
    watcher = Gio.DBusNodeInfo.new_for_xml(WATCHER_XML).interfaces[0]
    connection.register_object("/StatusNotifierWatcher", watcher, on_watcher_call, on_watcher_get, None)
    portal = Gio.DBusNodeInfo.new_for_xml(PORTAL_XML).interfaces[0]
    connection.register_object("/org/freedesktop/portal/desktop", portal, on_portal_call, None, None)


def on_name(connection, name):
    owned.append(name)
    if len(owned) == 2:
        print("ready", flush=True)


for bus_name in ("org.kde.StatusNotifierWatcher", "org.freedesktop.portal.Desktop"):
    Gio.bus_own_name(Gio.BusType.SESSION, bus_name, Gio.BusNameOwnerFlags.NONE,
                     on_bus if bus_name.startswith("org.kde") else None, on_name,
                     lambda *a: sys.exit("name lost"))
GLib.MainLoop().run()
