'''org.freedesktop.ScreenSaver: Inhibit/UnInhibit cookies and SimulateUserActivity, with mock
methods that show what is held. Parameters "refuse" and "refuse_uninhibit":
an error name every Inhibit, or every hand-back, fails with.'''

import os
import sys

import dbus

from dbusmock import MOCK_IFACE

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cookies  # noqa: E402 pylint: disable=wrong-import-position

BUS_NAME = 'org.freedesktop.ScreenSaver'
MAIN_OBJ = '/org/freedesktop/ScreenSaver'
MAIN_IFACE = 'org.freedesktop.ScreenSaver'
SYSTEM_BUS = False


def load(mock, parameters):
    cookies.setup(mock, parameters)
    mock.activity = 0


@dbus.service.method(MAIN_IFACE, in_signature='ss', out_signature='u', sender_keyword='sender')
def Inhibit(self, application, reason, sender=None):
    return cookies.inhibit(self, sender, (application, reason))


@dbus.service.method(MAIN_IFACE, in_signature='u', out_signature='')
def UnInhibit(self, cookie):
    cookies.uninhibit(self, cookie)


@dbus.service.method(MAIN_IFACE, in_signature='', out_signature='')
def SimulateUserActivity(self):
    self.activity += 1


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='a(uss)')
def ListInhibitors(self):
    return dbus.Array([(dbus.UInt32(c), d[0], d[1]) for c, (_, d) in self.inhibitors.items()],
                      signature='(uss)')


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='u')
def InhibitCalls(self):
    return dbus.UInt32(self.next_cookie - 1)


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='u')
def ActivityCount(self):
    return dbus.UInt32(self.activity)
