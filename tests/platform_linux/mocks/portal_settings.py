'''org.freedesktop.portal.Settings of the desktop portal: ReadAll over a table of settings that
the parameter "settings" gives ({namespace: {key: value}}; numbers with a fraction are doubles),
and a mock method Change(namespace, key, value) that stores a value and sends SettingChanged.'''

import dbus

from dbusmock import MOCK_IFACE

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.Settings'
SYSTEM_BUS = False


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


@dbus.service.method(MAIN_IFACE, in_signature='as', out_signature='a{sa{sv}}')
def ReadAll(self, namespaces):
    found = {}
    for ns, keys in self.table.items():
        if not namespaces or ns in namespaces:
            found[ns] = dbus.Dictionary(keys, signature='sv')
    return dbus.Dictionary(found, signature='sa{sv}')


@dbus.service.method(MOCK_IFACE, in_signature='ssv', out_signature='')
def Change(self, namespace, key, value):
    self.table.setdefault(namespace, {})[key] = value
    self.EmitSignal(MAIN_IFACE, 'SettingChanged', 'ssv', [namespace, key, value])
