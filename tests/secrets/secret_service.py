#!/usr/bin/python3
"""A small Secret Service for the tests: one collection, always unlocked, that the "default"
alias names, and "plain" sessions only. It answers the calls the keychain makes (found by
watching it: OpenSession, SearchItems, GetSecrets, CreateItem on the default alias, Item.Delete,
and the properties), keeps its items in memory, tells the tests what it holds, and can be told to
stop answering, as a hung keyring would, and later go on, as one that was unlocked late."""
import itertools
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

BUS_NAME = "org.freedesktop.secrets"
ROOT = "/org/freedesktop/secrets"
COLLECTION = ROOT + "/collection/login"
DEFAULT_ALIAS = ROOT + "/aliases/default"  # where clients reach the default collection directly
SECRET = "org.freedesktop.Secret"
PROPS = "org.freedesktop.DBus.Properties"
TEST = "org.kestrune.TestSecrets"
NO_PROMPT = dbus.ObjectPath("/")
ASYNC = ("ok", "fail")

silent = False
held = []  # the calls that came while silent, answered when the service speaks again


class NotSupported(dbus.DBusException):
    _dbus_error_name = "org.freedesktop.DBus.Error.NotSupported"


class NoSuchObject(dbus.DBusException):
    _dbus_error_name = "org.freedesktop.Secret.Error.NoSuchObject"


def respond(ok, fail, work):
    """Answers with what work() gives, or holds the call while the service plays dead."""
    if silent:
        held.append((ok, fail, work))
        return
    try:
        result = work()
    except dbus.DBusException as e:
        fail(e)
        return
    ok(*result) if isinstance(result, tuple) else ok(result)


class WithProperties(dbus.service.Object):
    interface = ""

    def properties(self):
        return {}

    @dbus.service.method(PROPS, in_signature="ss", out_signature="v")
    def Get(self, _interface, name):
        return self.properties()[name]

    @dbus.service.method(PROPS, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self.properties() if interface in ("", self.interface) else {}


class Item(WithProperties):
    interface = SECRET + ".Item"

    def __init__(self, bus, path, label, attributes, value, content_type):
        super().__init__(bus, path)
        self.path = path
        self.label = label
        self.attributes = attributes
        self.value = bytes(value)
        self.content_type = content_type

    def properties(self):
        return {
            "Locked": dbus.Boolean(False),
            "Attributes": dbus.Dictionary(self.attributes, signature="ss"),
            "Label": dbus.String(self.label),
            "Created": dbus.UInt64(0),
            "Modified": dbus.UInt64(0),
        }

    def secret(self, session):
        return dbus.Struct((dbus.ObjectPath(session), dbus.ByteArray(b""),
                            dbus.ByteArray(self.value), dbus.String(self.content_type)),
                           signature="oayays")

    @dbus.service.method(SECRET + ".Item", in_signature="", out_signature="o",
                         async_callbacks=ASYNC)
    def Delete(self, ok, fail):
        def work():
            service.collection.items.remove(self)
            self.remove_from_connection()
            return NO_PROMPT
        respond(ok, fail, work)


class Collection(WithProperties):
    interface = SECRET + ".Collection"
    SUPPORTS_MULTIPLE_OBJECT_PATHS = True

    def __init__(self, bus):
        super().__init__(bus, COLLECTION)
        self.add_to_connection(bus, DEFAULT_ALIAS)
        self.bus = bus
        self.items = []
        self.numbers = itertools.count(1)

    def properties(self):
        return {
            "Items": dbus.Array([dbus.ObjectPath(i.path) for i in self.items], signature="o"),
            "Label": dbus.String("Login"),
            "Locked": dbus.Boolean(False),
            "Created": dbus.UInt64(0),
            "Modified": dbus.UInt64(0),
        }

    def matching(self, attributes):
        return [i for i in self.items
                if all(i.attributes.get(k) == v for k, v in attributes.items())]

    @dbus.service.method(SECRET + ".Collection", in_signature="a{sv}(oayays)b",
                         out_signature="oo", byte_arrays=True, async_callbacks=ASYNC)
    def CreateItem(self, properties, secret, replace, ok, fail):
        def work():
            attributes = {str(k): str(v) for k, v in
                          properties.get(SECRET + ".Item.Attributes", {}).items()}
            label = str(properties.get(SECRET + ".Item.Label", ""))
            same = self.matching(attributes) if replace else []
            if same:
                item = same[0]
                item.label, item.value, item.content_type = label, bytes(secret[2]), str(secret[3])
            else:
                item = Item(self.bus, "%s/%d" % (COLLECTION, next(self.numbers)), label,
                            attributes, secret[2], str(secret[3]))
                self.items.append(item)
            return dbus.ObjectPath(item.path), NO_PROMPT
        respond(ok, fail, work)


class Service(WithProperties):
    interface = SECRET + ".Service"

    def __init__(self, bus):
        super().__init__(bus, ROOT)
        self.collection = Collection(bus)
        self.sessions = itertools.count(1)

    def properties(self):
        return {"Collections": dbus.Array([dbus.ObjectPath(COLLECTION)], signature="o")}

    def item(self, path):
        for i in self.collection.items:
            if i.path == path:
                return i
        raise NoSuchObject(path)

    @dbus.service.method(SECRET + ".Service", in_signature="sv", out_signature="vo",
                         async_callbacks=ASYNC)
    def OpenSession(self, algorithm, _input, ok, fail):
        def work():
            # A client that asks for an encrypted session first falls back to "plain".
            if algorithm != "plain":
                raise NotSupported("only plain sessions here")
            path = "%s/session/%d" % (ROOT, next(self.sessions))
            return dbus.String("", variant_level=1), dbus.ObjectPath(path)
        respond(ok, fail, work)

    @dbus.service.method(SECRET + ".Service", in_signature="a{ss}", out_signature="aoao",
                         async_callbacks=ASYNC)
    def SearchItems(self, attributes, ok, fail):
        respond(ok, fail, lambda: (
            dbus.Array([dbus.ObjectPath(i.path) for i in self.collection.matching(attributes)],
                       signature="o"),
            dbus.Array([], signature="o")))

    @dbus.service.method(SECRET + ".Service", in_signature="aoo", out_signature="a{o(oayays)}",
                         async_callbacks=ASYNC)
    def GetSecrets(self, items, session, ok, fail):
        respond(ok, fail, lambda: dbus.Dictionary(
            {dbus.ObjectPath(p): self.item(p).secret(session) for p in items},
            signature="o(oayays)"))

    # What the tests look at and change.
    @dbus.service.method(TEST, in_signature="", out_signature="a(sa{ss}s)")
    def Items(self):
        return dbus.Array([dbus.Struct((i.label, dbus.Dictionary(i.attributes, signature="ss"),
                                        i.value.decode("utf-8", "replace")))
                           for i in self.collection.items], signature="(sa{ss}s)")

    @dbus.service.method(TEST, in_signature="b", out_signature="")
    def SetSilent(self, value):
        global silent
        silent = bool(value)
        while not silent and held:
            respond(*held.pop(0))


DBusGMainLoop(set_as_default=True)
session_bus = dbus.SessionBus()
service = Service(session_bus)
name = dbus.service.BusName(BUS_NAME, session_bus, do_not_queue=True)
print("ready", flush=True)
try:
    GLib.MainLoop().run()
except KeyboardInterrupt:
    sys.exit(0)
