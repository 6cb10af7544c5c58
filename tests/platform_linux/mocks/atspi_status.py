'''org.a11y.Status of the AT-SPI bus launcher, on the session bus.

Parameters: "screen_reader" (ScreenReaderEnabled, false by default). The standard Properties.Set
changes a property and announces it with PropertiesChanged.'''

import dbus

BUS_NAME = 'org.a11y.Bus'
MAIN_OBJ = '/org/a11y/bus'
MAIN_IFACE = 'org.a11y.Status'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({
        'IsEnabled': dbus.Boolean(True),
        'ScreenReaderEnabled': dbus.Boolean(bool(parameters.get('screen_reader', False))),
    }, signature='sv'))
