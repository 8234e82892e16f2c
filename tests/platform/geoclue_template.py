# GeoClue 2 as the location tests need it: the manager, one client and one location. The
# manager's extra property TestDenyStart makes the client refuse to start, the way GeoClue does
# when the desktop's agent denies access.

import dbus

BUS_NAME = 'org.freedesktop.GeoClue2'
MAIN_OBJ = '/org/freedesktop/GeoClue2/Manager'
MAIN_IFACE = 'org.freedesktop.GeoClue2.Manager'
SYSTEM_BUS = True

START = '''
if objects['/org/freedesktop/GeoClue2/Manager'].props['org.freedesktop.GeoClue2.Manager']['TestDenyStart']:
    raise dbus.exceptions.DBusException('denied by the agent', name='org.freedesktop.DBus.Error.AccessDenied')
self.props['org.freedesktop.GeoClue2.Client']['Active'] = True
self.props['org.freedesktop.GeoClue2.Client']['Location'] = dbus.ObjectPath('/org/freedesktop/GeoClue2/Location/1')
'''

GET_CLIENT = '''
if '/org/freedesktop/GeoClue2/Client/1' not in objects:
    self.AddObject('/org/freedesktop/GeoClue2/Client/1', 'org.freedesktop.GeoClue2.Client', {
        'Location': dbus.ObjectPath('/'), 'DistanceThreshold': dbus.UInt32(0), 'TimeThreshold': dbus.UInt32(0),
        'DesktopId': '', 'RequestedAccuracyLevel': dbus.UInt32(0), 'Active': False,
    }, [('Start', '', '', START_CODE), ('Stop', '', '', '')])
ret = dbus.ObjectPath('/org/freedesktop/GeoClue2/Client/1')
'''.replace('START_CODE', repr(START))


def load(mock, parameters):
    mock.AddProperties(MAIN_IFACE, {'AvailableAccuracyLevel': dbus.UInt32(8), 'TestDenyStart': False})
    mock.AddMethod(MAIN_IFACE, 'GetClient', '', 'o', GET_CLIENT)
    mock.AddMethod(MAIN_IFACE, 'CreateClient', '', 'o', GET_CLIENT)
    mock.AddObject('/org/freedesktop/GeoClue2/Location/1', 'org.freedesktop.GeoClue2.Location', {
        'Latitude': 48.8566, 'Longitude': 2.3522, 'Accuracy': 65.0, 'Altitude': -1.7976931348623157e308,
        'Speed': -1.0, 'Heading': -1.0, 'Description': '',
        'Timestamp': dbus.Struct((dbus.UInt64(1777627800), dbus.UInt64(0)), signature='tt'),
    }, [])
