'''org.gnome.SessionManager: Inhibit/Uninhibit cookies with their flags, and mock methods that
show what is held. Parameters "refuse" and "refuse_uninhibit":
an error name every Inhibit, or every hand-back, fails with.'''

import os
import sys

import dbus

from dbusmock import MOCK_IFACE

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cookies  # noqa: E402 pylint: disable=wrong-import-position

BUS_NAME = 'org.gnome.SessionManager'
MAIN_OBJ = '/org/gnome/SessionManager'
MAIN_IFACE = 'org.gnome.SessionManager'
SYSTEM_BUS = False


def load(mock, parameters):
    cookies.setup(mock, parameters)


@dbus.service.method(MAIN_IFACE, in_signature='susu', out_signature='u', sender_keyword='sender')
def Inhibit(self, app_id, toplevel_xid, reason, flags, sender=None):
    return cookies.inhibit(self, sender, (app_id, reason, flags))


@dbus.service.method(MAIN_IFACE, in_signature='u', out_signature='')
def Uninhibit(self, cookie):
    cookies.uninhibit(self, cookie)


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='a(ssu)')
def ListInhibitors(self):
    return dbus.Array([(d[0], d[1], dbus.UInt32(d[2])) for _, (_, d) in self.inhibitors.items()],
                      signature='(ssu)')
