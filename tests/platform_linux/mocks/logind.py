'''logind as dbusmock's own template has it, with what the real one does that tests rely on:
Inhibit records the caller's own uid and pid, and a change of the blocking or delaying locks
is announced as a change of BlockInhibited or DelayInhibited. It also counts Inhibit calls, so
tests can tell a lock that was taken and dropped from one that was never asked for.

Parameters: "hold_replies": true keeps every Inhibit answer (the lock is taken and listed) until
SendHeldReplies; "refuse_list": an error name ListInhibitors fails with.

"brightness_session": a session id whose object serves SetBrightness(subsystem, name, value),
writing <"sys_root">/class/<subsystem>/<name>/brightness as logind does for the session's user
(or failing with the error name "refuse_brightness"); BrightnessCalls lists the calls.'''

import os

import dbus

from gi.repository import GLib
from dbusmock import MOCK_IFACE, mockobject
from dbusmock.templates import logind as stock
from dbusmock.templates.logind import *  # noqa: F401,F403 pylint: disable=wildcard-import

BUS_NAME = stock.BUS_NAME
MAIN_OBJ = stock.MAIN_OBJ
MAIN_IFACE = stock.MAIN_IFACE
SYSTEM_BUS = True

BLOCKING = ('block', 'block-weak')


def load(mock, parameters):
    stock.load(mock, parameters)
    mock.inhibit_calls = 0
    mock.hold_replies = bool(parameters.get('hold_replies', False))
    mock.held_replies = []
    mock.list_refusal = parameters.get('refuse_list', '')
    mockobject.inhibitors = []
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({'BlockInhibited': '', 'DelayInhibited': ''},
                                                   signature='sv'))
    mock.brightness_calls = []
    if parameters.get('brightness_session'):
        add_brightness_session(mock, parameters)


def add_brightness_session(mock, parameters):
    path = mock.AddSession(parameters['brightness_session'], 'seat0', dbus.UInt32(os.getuid()),
                           'user', True)
    sys_root = parameters.get('sys_root', '')
    refusal = parameters.get('refuse_brightness', '')

    def set_brightness(_session, subsystem, name, value):
        mock.brightness_calls.append((str(subsystem), str(name), dbus.UInt32(value)))
        if refusal:
            raise dbus.exceptions.DBusException('refused by the test', name=refusal)
        target = os.path.join(sys_root, 'class', subsystem, name, 'brightness')
        mode = os.stat(target).st_mode
        os.chmod(target, mode | 0o200)  # logind, as root, needs no write bit
        with open(target, 'w', encoding='ascii') as out:
            out.write(f'{int(value)}\n')
        os.chmod(target, mode)

    mockobject.objects[path].AddMethod('org.freedesktop.login1.Session', 'SetBrightness', 'ssu',
                                       '', set_brightness)


def announce(mock, mode):
    blocking = mode in BLOCKING
    whats = set()
    for inhibitor in mockobject.inhibitors:
        if (inhibitor[3] in BLOCKING) == blocking:
            whats.update(inhibitor[0].split(':'))
    name = 'BlockInhibited' if blocking else 'DelayInhibited'
    mock.UpdateProperties(MAIN_IFACE, {name: ':'.join(sorted(whats))})


@dbus.service.method(MAIN_IFACE, in_signature='ssss', out_signature='h', sender_keyword='sender',
                     async_callbacks=('reply', 'fail'))
def Inhibit(self, what, who, why, mode, sender=None, reply=None, fail=None):  # pylint: disable=unused-argument
    self.inhibit_calls += 1
    driver = dbus.Interface(self.connection.get_object('org.freedesktop.DBus', '/org/freedesktop/DBus'),
                            'org.freedesktop.DBus')
    uid = driver.GetConnectionUnixUser(sender)
    pid = driver.GetConnectionUnixProcessID(sender)

    fd_r, fd_w = os.pipe()
    inhibitor = (what, who, why, mode, dbus.UInt32(uid), dbus.UInt32(pid))
    mockobject.inhibitors.append(inhibitor)

    def dropped(fd, _condition):
        os.close(fd)
        mockobject.inhibitors.remove(inhibitor)
        announce(self, mode)
        return False

    GLib.unix_fd_add_full(GLib.PRIORITY_HIGH, fd_r, GLib.IO_HUP, dropped)
    announce(self, mode)

    def answer():
        reply(dbus.types.UnixFd(fd_w))
        os.close(fd_w)

    if self.hold_replies:
        self.held_replies.append(answer)
    else:
        answer()


@dbus.service.method(MAIN_IFACE, in_signature='', out_signature='a(ssssuu)')
def ListInhibitors(self):
    if self.list_refusal:
        raise dbus.exceptions.DBusException('refused by the test', name=self.list_refusal)
    return dbus.Array(mockobject.inhibitors, signature='(ssssuu)')


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='u')
def InhibitCalls(self):
    return dbus.UInt32(self.inhibit_calls)


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='u')
def SendHeldReplies(self):
    held, self.held_replies = self.held_replies, []
    for answer in held:
        answer()
    return dbus.UInt32(len(held))


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='a(ssu)')
def BrightnessCalls(self):
    return dbus.Array(self.brightness_calls, signature='(ssu)')
