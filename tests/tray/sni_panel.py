#!/usr/bin/env python3
"""A desktop panel for tests, on the session bus it is given: a StatusNotifierWatcher with a host,
and a notification server. It records what programs register and send, and a test drives it
through org.kestrune.TestPanel: read the items' properties, click them as a panel does, and
expire or click notifications as a server does. Prints "ready" once all its names are owned."""
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
NOTIFICATIONS = "org.freedesktop.Notifications"
PANEL = "org.kestrune.TestPanel"
PROPERTIES = "org.freedesktop.DBus.Properties"


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.bus = bus
        self.items = []  # live items as "service/path"
        self.registrations = 0
        bus.add_signal_receiver(self.owner_changed, "NameOwnerChanged",
                                "org.freedesktop.DBus", "org.freedesktop.DBus",
                                "/org/freedesktop/DBus")

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        # Items name either a bus name (path /StatusNotifierItem) or an object path of the sender.
        if service.startswith("/"):
            entry = sender + service
        else:
            entry = service + "/StatusNotifierItem"
        self.registrations += 1
        if entry not in self.items:
            self.items.append(entry)
        self.StatusNotifierItemRegistered(entry)

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, entry):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemUnregistered(self, entry):
        pass

    @dbus.service.signal(WATCHER, signature="")
    def StatusNotifierHostRegistered(self):
        pass

    def owner_changed(self, name, old, new):
        if new:
            return
        for entry in list(self.items):
            if entry.split("/", 1)[0] == name:
                self.items.remove(entry)
                self.StatusNotifierItemUnregistered(entry)

    # Qt reads the watcher's properties through QDBusInterface, which finds them only in the
    # introspection data; dbus-python lists no properties of its own.
    @dbus.service.method("org.freedesktop.DBus.Introspectable", out_signature="s")
    def Introspect(self):
        return """<node><interface name="%s">
<method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
<method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
<property name="RegisteredStatusNotifierItems" type="as" access="read"/>
<property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
<property name="ProtocolVersion" type="i" access="read"/>
<signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
<signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
<signal name="StatusNotifierHostRegistered"/>
</interface>
<interface name="org.freedesktop.DBus.Properties">
<method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/>
<arg type="v" direction="out"/></method>
<method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
</interface></node>""" % WATCHER

    def props(self):
        return {"RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
                "IsStatusNotifierHostRegistered": dbus.Boolean(True),
                "ProtocolVersion": dbus.Int32(0)}

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.props()[name]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self.props()


class Notifications(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.sent = []  # (id, app, summary, body, timeout)
        self.actions = {}  # id: the action keys and labels offered
        self.closed_by_client = []
        self.up = set()
        self.last_id = 0

    @dbus.service.method(NOTIFICATIONS, out_signature="as")
    def GetCapabilities(self):
        return ["body", "actions"]

    @dbus.service.method(NOTIFICATIONS, out_signature="ssss")
    def GetServerInformation(self):
        return ("kestrune-test-panel", "Kestrune", "1", "1.2")

    @dbus.service.method(NOTIFICATIONS, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        if not replaces:
            self.last_id += 1
        nid = replaces or self.last_id
        self.sent.append((dbus.UInt32(nid), app, summary, body, dbus.Int32(timeout)))
        self.actions[nid] = [str(a) for a in actions]
        self.up.add(nid)
        return nid

    @dbus.service.method(NOTIFICATIONS, in_signature="u")
    def CloseNotification(self, nid):
        self.closed_by_client.append(dbus.UInt32(nid))
        self.end(nid, 3)

    @dbus.service.signal(NOTIFICATIONS, signature="uu")
    def NotificationClosed(self, nid, reason):
        pass

    @dbus.service.signal(NOTIFICATIONS, signature="us")
    def ActionInvoked(self, nid, action):
        pass

    def end(self, nid, reason):
        if nid in self.up:
            self.up.discard(nid)
            self.NotificationClosed(nid, reason)


class Panel(dbus.service.Object):
    def __init__(self, bus, watcher, notifications, loop):
        super().__init__(bus, "/TestPanel")
        self.bus, self.watcher, self.notifications, self.loop = bus, watcher, notifications, loop

    def item(self, entry):
        service, path = entry.split("/", 1)
        return self.bus.get_object(service, "/" + path, introspect=False)

    @dbus.service.method(PANEL, out_signature="as")
    def Items(self):
        return dbus.Array(self.watcher.items, signature="s")

    @dbus.service.method(PANEL, out_signature="i")
    def Registrations(self):
        return self.watcher.registrations

    @dbus.service.method(PANEL, in_signature="s", out_signature="s")
    def ToolTipTitle(self, entry):
        tip = self.item(entry).Get(ITEM, "ToolTip", dbus_interface=PROPERTIES)
        return tip[2]

    @dbus.service.method(PANEL, in_signature="ss", out_signature="s")
    def StringProperty(self, entry, name):
        return str(self.item(entry).Get(ITEM, name, dbus_interface=PROPERTIES))

    @dbus.service.method(PANEL, in_signature="s", out_signature="iiay")
    def LargestIcon(self, entry):
        """The largest picture of the item's IconPixmap: width, height, ARGB32 in network
        byte order."""
        pixmaps = self.item(entry).Get(ITEM, "IconPixmap", dbus_interface=PROPERTIES)
        if not pixmaps:
            return (0, 0, dbus.ByteArray(b""))
        w, h, data = max(pixmaps, key=lambda p: p[0] * p[1])
        return (w, h, dbus.ByteArray(bytes(data)))

    def click(self, entry, method):
        # Asynchronous, as a panel's click is: the item may answer only after this returns.
        self.item(entry).get_dbus_method(method, ITEM)(
            0, 0, reply_handler=lambda *a: None, error_handler=lambda e: None)

    @dbus.service.method(PANEL, in_signature="s")
    def Activate(self, entry):
        self.click(entry, "Activate")

    @dbus.service.method(PANEL, in_signature="s")
    def ContextMenu(self, entry):
        self.click(entry, "ContextMenu")

    @dbus.service.method(PANEL, out_signature="a(usssi)")
    def Notifications(self):
        return dbus.Array(self.notifications.sent, signature="(usssi)")

    @dbus.service.method(PANEL, out_signature="au")
    def ClosedByClient(self):
        return dbus.Array(self.notifications.closed_by_client, signature="u")

    @dbus.service.method(PANEL, in_signature="u")
    def Expire(self, nid):
        self.notifications.end(nid, 1)

    @dbus.service.method(PANEL, in_signature="u")
    def Click(self, nid):
        # A server reports the click, then closes the notification it was on.
        self.notifications.ActionInvoked(nid, "default")
        self.notifications.end(nid, 2)

    @dbus.service.method(PANEL, in_signature="u", out_signature="as")
    def Actions(self, nid):
        return dbus.Array(self.notifications.actions.get(int(nid), []), signature="s")

    @dbus.service.method(PANEL, in_signature="us")
    def Invoke(self, nid, action):
        # As a server that keeps the notification up after an action: closing it is the
        # program's part.
        self.notifications.ActionInvoked(nid, action)

    @dbus.service.method(PANEL)
    def Forget(self):
        n = self.notifications
        for nid in list(n.up):
            n.end(nid, 3)
        n.sent, n.actions, n.closed_by_client = [], {}, []

    @dbus.service.method(PANEL)
    def Quit(self):
        GLib.idle_add(self.loop.quit)


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    loop = GLib.MainLoop()
    watcher = Watcher(bus)
    notifications = Notifications(bus)
    Panel(bus, watcher, notifications, loop)
    names = [dbus.service.BusName(n, bus, do_not_queue=True)
             for n in (WATCHER, NOTIFICATIONS, PANEL)]
    watcher.StatusNotifierHostRegistered()
    print("ready", flush=True)
    loop.run()
    del names


if __name__ == "__main__":
    sys.exit(main())
