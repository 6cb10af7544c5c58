'''logind as dbusmock's own template has it, counting Inhibit calls so tests can tell a lock
that was taken and dropped from one that was never asked for.'''

import dbus

from dbusmock import MOCK_IFACE
from dbusmock.templates import logind as stock
from dbusmock.templates.logind import *  # noqa: F401,F403 pylint: disable=wildcard-import

BUS_NAME = stock.BUS_NAME
MAIN_OBJ = stock.MAIN_OBJ
MAIN_IFACE = stock.MAIN_IFACE
SYSTEM_BUS = True


def load(mock, parameters):
    stock.load(mock, parameters)
    mock.inhibit_calls = 0


@dbus.service.method(MAIN_IFACE, in_signature='ssss', out_signature='h')
def Inhibit(self, what, who, why, mode):
    self.inhibit_calls += 1
    return stock.Inhibit(self, what, who, why, mode)


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='u')
def InhibitCalls(self):
    return dbus.UInt32(self.inhibit_calls)
