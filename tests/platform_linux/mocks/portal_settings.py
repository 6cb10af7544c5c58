'''org.freedesktop.portal.Settings of the desktop portal, holding only the appearance's
"color-scheme". Parameters: "color_scheme" (0 no preference, 1 dark, 2 light; 0 by default) and
"version" (2 by default; 1 has no ReadOne, and Read wraps its answer in a second variant).
Mock methods change the scheme, or another setting, announcing it with SettingChanged.'''

import dbus

from dbusmock import MOCK_IFACE

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.Settings'
SYSTEM_BUS = False

NAMESPACE = 'org.freedesktop.appearance'
KEY = 'color-scheme'


def load(mock, parameters):
    mock.color_scheme = int(parameters.get('color_scheme', 0))
    mock.version = int(parameters.get('version', 2))
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({'version': dbus.UInt32(mock.version)},
                                                   signature='sv'))


def lookup(mock, namespace, key):
    if namespace != NAMESPACE or key != KEY:
        raise dbus.exceptions.DBusException('Requested setting not found',
                                            name='org.freedesktop.portal.Error.NotFound')
    return mock.color_scheme


@dbus.service.method(MAIN_IFACE, in_signature='ss', out_signature='v')
def ReadOne(self, namespace, key):
    if self.version < 2:
        raise dbus.exceptions.DBusException('No such method ReadOne',
                                            name='org.freedesktop.DBus.Error.UnknownMethod')
    return dbus.UInt32(lookup(self, namespace, key), variant_level=1)


@dbus.service.method(MAIN_IFACE, in_signature='ss', out_signature='v')
def Read(self, namespace, key):
    return dbus.UInt32(lookup(self, namespace, key), variant_level=2)


@dbus.service.method(MOCK_IFACE, in_signature='u', out_signature='')
def SetColorScheme(self, value):
    self.color_scheme = int(value)
    self.EmitSignal(MAIN_IFACE, 'SettingChanged', 'ssv',
                    [NAMESPACE, KEY, dbus.UInt32(value, variant_level=1)])


@dbus.service.method(MOCK_IFACE, in_signature='ssu', out_signature='')
def AnnounceOther(self, namespace, key, value):
    self.EmitSignal(MAIN_IFACE, 'SettingChanged', 'ssv',
                    [namespace, key, dbus.UInt32(value, variant_level=1)])
