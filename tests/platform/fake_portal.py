# The desktop portal's RemoteDesktop and ScreenCast as the portal tests need them, on the session
# bus of DBUS_SESSION_BUS_ADDRESS: one monitor, node 44, at (1920, 0) and 1280 x 1024; every Start
# answers a new restore token. The test reads the calls (JSON, handle tokens left out) and steers
# it through the org.pelk.Test interface.
import json

import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

PATH = '/org/freedesktop/portal/desktop'
RD = 'org.freedesktop.portal.RemoteDesktop'
SC = 'org.freedesktop.portal.ScreenCast'
TEST = 'org.pelk.Test'
U = dbus.UInt32


class Handle(dbus.service.Object):  # a Request or a Session
    @dbus.service.signal('org.freedesktop.portal.Request', signature='ua{sv}')
    def Response(self, code, results):
        pass

    @dbus.service.signal('org.freedesktop.portal.Session', signature='a{sv}')
    def Closed(self, details):
        pass

    @dbus.service.method('org.freedesktop.portal.Session')
    def Close(self):
        portal.calls.append(['Close', []])


def handle_path(kind, sender, token):
    return f'{PATH}/{kind}/{sender[1:].replace(".", "_")}/{token}'


def notify(name, signature):
    def record(self, session, options, first, second):
        self.calls.append([name, [first, second]])
    record.__name__ = name
    return dbus.service.method(RD, in_signature='oa{sv}' + signature)(record)


class Portal(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, PATH)
        self.calls, self.start_code, self.devices, self.tokens, self.session = [], 0, 3, 0, None
        self.props = {RD: {'version': U(2), 'AvailableDeviceTypes': U(7)},
                      SC: {'version': U(4), 'AvailableSourceTypes': U(7), 'AvailableCursorModes': U(7)}}

    def answer(self, method, sender, arguments, options, code=0, results=None):
        kept = {k: bool(v) if isinstance(v, dbus.Boolean) else v for k, v in options.items()
                if k not in ('handle_token', 'session_handle_token')}
        self.calls.append([method, list(arguments) + [kept]])
        request = Handle(self.connection, handle_path('request', sender, options['handle_token']))
        GLib.idle_add(lambda: request.Response(U(code), dbus.Dictionary(results or {}, signature='sv'))
                      or request.remove_from_connection())
        return dbus.ObjectPath(request._object_path)

    @dbus.service.method('org.freedesktop.DBus.Properties', in_signature='s', out_signature='a{sv}')
    def GetAll(self, interface):
        return self.props[interface]

    @dbus.service.method(RD, in_signature='a{sv}', out_signature='o', sender_keyword='sender')
    def CreateSession(self, options, sender):
        self.session = Handle(self.connection, handle_path('session', sender, options['session_handle_token']))
        # Sent as a string, as the portal itself does.
        return self.answer('CreateSession', sender, [], options, results={'session_handle': self.session._object_path})

    @dbus.service.method(RD, in_signature='oa{sv}', out_signature='o', sender_keyword='sender')
    def SelectDevices(self, session, options, sender):
        return self.answer('SelectDevices', sender, [], options)

    @dbus.service.method(SC, in_signature='oa{sv}', out_signature='o', sender_keyword='sender')
    def SelectSources(self, session, options, sender):
        return self.answer('SelectSources', sender, [], options)

    @dbus.service.method(RD, in_signature='osa{sv}', out_signature='o', sender_keyword='sender')
    def Start(self, session, parent, options, sender):
        self.tokens += 1
        stream = (U(44), {'position': dbus.Struct((1920, 0), signature='ii'),
                          'size': dbus.Struct((1280, 1024), signature='ii')})
        results = {'devices': U(self.devices), 'restore_token': f'token-{self.tokens}',
                   'streams': dbus.Array([stream], signature='(ua{sv})')}
        return self.answer('Start', sender, [parent], options, self.start_code, results)

    @dbus.service.method(SC, in_signature='oa{sv}', out_signature='h')
    def OpenPipeWireRemote(self, session, options):
        with open('/dev/null') as file:
            return dbus.types.UnixFd(file)

    @dbus.service.method(RD, in_signature='oa{sv}udd')
    def NotifyPointerMotionAbsolute(self, session, options, stream, x, y):
        self.calls.append(['NotifyPointerMotionAbsolute', [stream, x, y]])

    NotifyPointerButton = notify('NotifyPointerButton', 'iu')
    NotifyPointerAxisDiscrete = notify('NotifyPointerAxisDiscrete', 'ui')
    NotifyKeyboardKeycode = notify('NotifyKeyboardKeycode', 'iu')

    @dbus.service.method(TEST, out_signature='s')
    def Calls(self):
        return json.dumps(self.calls)

    @dbus.service.method(TEST)
    def Forget(self):
        self.calls = []

    @dbus.service.method(TEST, in_signature='uu')
    def AnswerStart(self, code, devices):
        self.start_code, self.devices = code, devices

    @dbus.service.method(TEST, in_signature='u')
    def SetVersion(self, version):
        self.props[RD]['version'] = version

    @dbus.service.method(TEST)
    def CloseSession(self):
        self.session.Closed({})


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
portal = Portal(bus)
name = dbus.service.BusName('org.freedesktop.portal.Desktop', bus)
GLib.MainLoop().run()
