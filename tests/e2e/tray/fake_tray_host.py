#!/usr/bin/python3
# What a desktop session provides on its bus, as little as the tray application uses: a
# StatusNotifierWatcher with a host (the tray). (No portal: without one the application keeps
# its light look, as with a portal that states no preference.)
# Prints "ready" once the name is owned; runs until killed.

import sys

from gi.repository import Gio, GLib

WATCHER_XML = """<node><interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/></interface></node>"""
items = []


def on_watcher_call(connection, sender, path, interface, method, params, invocation):
    # RegisterStatusNotifierItem: an item may register by object path, meaning "at the caller's own name".
    service = params.unpack()[0]
    items.append(sender + service if service.startswith("/") else service)
    invocation.return_value(None)


def on_watcher_get(connection, sender, path, interface, name):
    return GLib.Variant("as", items) if name == "RegisteredStatusNotifierItems" else GLib.Variant("b", True)


def on_bus(connection, name):
    watcher = Gio.DBusNodeInfo.new_for_xml(WATCHER_XML).interfaces[0]
    connection.register_object("/StatusNotifierWatcher", watcher, on_watcher_call, on_watcher_get, None)


Gio.bus_own_name(Gio.BusType.SESSION, "org.kde.StatusNotifierWatcher", Gio.BusNameOwnerFlags.NONE, on_bus,
                 lambda *a: print("ready", flush=True), lambda *a: sys.exit("name lost"))
GLib.MainLoop().run()
