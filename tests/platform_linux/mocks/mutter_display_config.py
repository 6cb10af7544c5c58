'''org.gnome.Mutter.DisplayConfig with its PowerSaveMode property (0 on, 3 off), which a client
sets through org.freedesktop.DBus.Properties.Set and the test reads back with Get.'''

import dbus

BUS_NAME = 'org.gnome.Mutter.DisplayConfig'
MAIN_OBJ = '/org/gnome/Mutter/DisplayConfig'
MAIN_IFACE = 'org.gnome.Mutter.DisplayConfig'
SYSTEM_BUS = False


def load(mock, _parameters):
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({'PowerSaveMode': dbus.Int32(0)},
                                                   signature='sv'))
