'''org.freedesktop.portal.Settings of the desktop portal over a table of settings.

Parameters: "settings" ({namespace: {key: value}}; numbers with a fraction are doubles, other
numbers 32-bit integers), "color_scheme" (the appearance's "color-scheme" as an unsigned number:
0 no preference, 1 dark, 2 light; left out unless given) and "version" (2 by default; 1 has no
ReadOne, and Read wraps its answer in a second variant, as old portals do).
Mock methods Change(namespace, key, value), SetColorScheme(value) and AnnounceOther(namespace,
key, value) change or announce a setting with SettingChanged.'''

import dbus

from dbusmock import MOCK_IFACE

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.Settings'
SYSTEM_BUS = False

APPEARANCE = 'org.freedesktop.appearance'
COLOR_SCHEME = 'color-scheme'


def typed(value):
    if isinstance(value, bool):
        return dbus.Boolean(value)
    if isinstance(value, float):
        return dbus.Double(value)
    if isinstance(value, int):
        return dbus.Int32(value)
    return dbus.String(value)


def load(mock, parameters):
    mock.table = {ns: {k: typed(v) for k, v in keys.items()}
                  for ns, keys in parameters.get('settings', {}).items()}
    if 'color_scheme' in parameters:
        mock.table.setdefault(APPEARANCE, {})[COLOR_SCHEME] = dbus.UInt32(
            int(parameters['color_scheme']))
    mock.version = int(parameters.get('version', 2))
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({'version': dbus.UInt32(mock.version)},
                                                   signature='sv'))


def lookup(mock, namespace, key):
    try:
        return mock.table[namespace][key]
    except KeyError:
        raise dbus.exceptions.DBusException('Requested setting not found',
                                            name='org.freedesktop.portal.Error.NotFound')


def announce(mock, namespace, key, value):
    mock.EmitSignal(MAIN_IFACE, 'SettingChanged', 'ssv', [namespace, key, value])


@dbus.service.method(MAIN_IFACE, in_signature='as', out_signature='a{sa{sv}}')
def ReadAll(self, namespaces):
    found = {}
    for ns, keys in self.table.items():
        if not namespaces or ns in namespaces:
            found[ns] = dbus.Dictionary(keys, signature='sv')
    return dbus.Dictionary(found, signature='sa{sv}')


@dbus.service.method(MAIN_IFACE, in_signature='ss', out_signature='v')
def ReadOne(self, namespace, key):
    if self.version < 2:
        raise dbus.exceptions.DBusException('No such method ReadOne',
                                            name='org.freedesktop.DBus.Error.UnknownMethod')
    value = lookup(self, namespace, key)
    return type(value)(value, variant_level=1)


@dbus.service.method(MAIN_IFACE, in_signature='ss', out_signature='v')
def Read(self, namespace, key):
    value = lookup(self, namespace, key)
    return type(value)(value, variant_level=2)


@dbus.service.method(MOCK_IFACE, in_signature='ssv', out_signature='')
def Change(self, namespace, key, value):
    self.table.setdefault(namespace, {})[key] = value
    announce(self, namespace, key, value)


@dbus.service.method(MOCK_IFACE, in_signature='u', out_signature='')
def SetColorScheme(self, value):
    self.table.setdefault(APPEARANCE, {})[COLOR_SCHEME] = dbus.UInt32(value)
    announce(self, APPEARANCE, COLOR_SCHEME, dbus.UInt32(value, variant_level=1))


@dbus.service.method(MOCK_IFACE, in_signature='ssu', out_signature='')
def AnnounceOther(self, namespace, key, value):
    announce(self, namespace, key, dbus.UInt32(value, variant_level=1))
