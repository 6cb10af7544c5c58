'''org.kde.StatusNotifierWatcher as the desktops' trays serve it: items register by bus name
(or, from their own connection, by object path), are listed in RegisteredStatusNotifierItems
and announced, and are forgotten when their name leaves the bus. A mock method counts the
registrations, so tests can tell an item that registered again from one that never left. The
parameter "host" (true unless given) says whether a host shows the items at first; the mock method
SetHost makes one come or go as a panel's tray does.'''

import dbus

from dbusmock import MOCK_IFACE

BUS_NAME = 'org.kde.StatusNotifierWatcher'
MAIN_OBJ = '/StatusNotifierWatcher'
MAIN_IFACE = 'org.kde.StatusNotifierWatcher'
SYSTEM_BUS = False


def load(mock, parameters):  # pylint: disable=unused-argument
    mock.items = {}  # 'service/path' -> the owner of the service
    mock.registrations = 0
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({
        'RegisteredStatusNotifierItems': dbus.Array([], signature='s'),
        'IsStatusNotifierHostRegistered': bool(parameters.get('host', True)),
        'ProtocolVersion': dbus.Int32(0),
    }, signature='sv'))

    def owner_changed(name, _old, new):
        if new:
            return
        gone = [key for key, owner in mock.items.items() if name in (owner, key.split('/')[0])]
        for key in gone:
            del mock.items[key]
            mock.EmitSignal(MAIN_IFACE, 'StatusNotifierItemUnregistered', 's', [key])
        if gone:
            publish(mock)

    mock.connection.add_signal_receiver(owner_changed, signal_name='NameOwnerChanged',
                                        dbus_interface='org.freedesktop.DBus',
                                        bus_name='org.freedesktop.DBus')


def publish(mock):
    mock.UpdateProperties(MAIN_IFACE, {
        'RegisteredStatusNotifierItems': dbus.Array(sorted(mock.items), signature='s')})


@dbus.service.method(MAIN_IFACE, in_signature='s', out_signature='', sender_keyword='sender')
def RegisterStatusNotifierItem(self, service, sender=None):
    if service.startswith('/'):
        service, path = sender, service
    else:
        path = '/StatusNotifierItem'
    driver = dbus.Interface(self.connection.get_object('org.freedesktop.DBus', '/org/freedesktop/DBus'),
                            'org.freedesktop.DBus')
    if not driver.NameHasOwner(service):
        raise dbus.exceptions.DBusException('no such service: ' + service,
                                            name='org.freedesktop.DBus.Error.ServiceUnknown')
    key = service + path
    self.registrations += 1
    self.items[key] = driver.GetNameOwner(service)
    publish(self)
    self.EmitSignal(MAIN_IFACE, 'StatusNotifierItemRegistered', 's', [key])


@dbus.service.method(MAIN_IFACE, in_signature='s', out_signature='')
def RegisterStatusNotifierHost(self, service):  # pylint: disable=unused-argument
    set_host(self, True)


def set_host(mock, present):
    mock.UpdateProperties(MAIN_IFACE, {'IsStatusNotifierHostRegistered': dbus.Boolean(present)})
    mock.EmitSignal(MAIN_IFACE, 'StatusNotifierHost' + ('Registered' if present else 'Unregistered'),
                    '', [])


@dbus.service.method(MOCK_IFACE, in_signature='b', out_signature='')
def SetHost(self, present):
    set_host(self, present)


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='u')
def Registrations(self):
    return dbus.UInt32(self.registrations)
