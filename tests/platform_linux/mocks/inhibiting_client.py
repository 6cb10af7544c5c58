'''Another program that keeps logind inhibitors, for tests: each argument is "what/mode"
("sleep:idle/block"). It takes them all on the system bus, then keeps them until it is ended.'''

import signal
import sys

import dbus


def main():
    manager = dbus.Interface(
        dbus.SystemBus().get_object('org.freedesktop.login1', '/org/freedesktop/login1'),
        'org.freedesktop.login1.Manager')
    held = [manager.Inhibit(what, 'Other', 'held by a test', mode)
            for what, mode in (argument.split('/') for argument in sys.argv[1:])]
    signal.pause()
    return held


if __name__ == '__main__':
    main()
