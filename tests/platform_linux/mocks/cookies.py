'''Shared by the cookie-based inhibitor mocks: inhibitors are kept until handed back or until
their client leaves the bus, as real screen savers and session managers do.'''

import dbus


def setup(mock, parameters):
    mock.inhibitors = {}
    mock.next_cookie = 1
    mock.refusal = parameters.get('refuse', '')
    mock.uninhibit_refusal = parameters.get('refuse_uninhibit', '')
    mock.client_watches = {}


def inhibit(mock, sender, details):
    if mock.refusal:
        raise dbus.exceptions.DBusException('refused by the test', name=mock.refusal)
    cookie = mock.next_cookie
    mock.next_cookie += 1
    mock.inhibitors[cookie] = (sender, details)
    if sender not in mock.client_watches:
        def owner_changed(owner, client=sender):
            if owner == '':
                for gone in [c for c, (s, _) in mock.inhibitors.items() if s == client]:
                    del mock.inhibitors[gone]
        mock.client_watches[sender] = mock.connection.watch_name_owner(sender, owner_changed)
    return dbus.UInt32(cookie)


def uninhibit(mock, cookie):
    if mock.uninhibit_refusal:
        raise dbus.exceptions.DBusException('refused by the test', name=mock.uninhibit_refusal)
    mock.inhibitors.pop(int(cookie), None)
