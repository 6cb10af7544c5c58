'''org.freedesktop.portal.FileChooser of the desktop portal, answered by the test.

OpenFile and SaveFile make a Request object at the path the handle token asks for and return
it. Parameter "answer" ({"response": 0, "uris": [...]}, or the mock method SetAnswer(response,
uris)) has every request answered as soon as it is made; without one nothing answers until the
test calls the mock method Respond(response, uris), which sends Response from the newest request. LastRequest() returns the newest call as JSON: method, parent
window, title and options (byte strings as text without their terminating zero). Closed()
returns the paths of the requests closed with Request.Close.'''

import json

import dbus

from gi.repository import GLib
from dbusmock import MOCK_IFACE, mockobject

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.FileChooser'
SYSTEM_BUS = False

REQUEST_IFACE = 'org.freedesktop.portal.Request'


def load(mock, parameters):
    mock.calls = []
    mock.handles = []
    mock.closed = []
    answer = parameters.get('answer')
    mock.answer = (int(answer['response']), list(answer.get('uris', []))) if answer else None
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({'version': dbus.UInt32(3)}, signature='sv'))


def plain(value):
    if isinstance(value, dbus.Array) and value.signature == 'y':
        return bytes(value).rstrip(b'\0').decode('utf-8', 'replace')
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, (dbus.Array, dbus.Struct, list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, dbus.Dictionary):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, (dbus.UInt32, dbus.Int32, dbus.UInt64, dbus.Int64)):
        return int(value)
    return str(value)


def request(mock, method, sender, parent, title, options):
    token = str(options.get('handle_token', 'plain%d' % len(mock.calls)))
    path = '/org/freedesktop/portal/desktop/request/%s/%s' % (
        sender.lstrip(':').replace('.', '_'), token)
    mock.calls.append({'method': method, 'parent': str(parent), 'title': str(title),
                       'options': plain(options)})
    mock.AddObject(path, REQUEST_IFACE, {}, [
        ('Close', '', '', 'self.closed_by_caller = True'),
    ])
    mock.handles.append(path)
    if mock.answer is not None:
        # After the reply, as a real chooser answers once the user is done.
        GLib.idle_add(lambda: respond(mock, path, *mock.answer) and False)
    return dbus.ObjectPath(path)


def respond(mock, path, response, uris):
    results = {}
    if uris:
        results['uris'] = dbus.Array(uris, signature='s')
    mockobject.objects[path].EmitSignal(
        REQUEST_IFACE, 'Response', 'ua{sv}', [dbus.UInt32(response),
                                              dbus.Dictionary(results, signature='sv')])


@dbus.service.method(MAIN_IFACE, in_signature='ssa{sv}', out_signature='o',
                     sender_keyword='sender')
def OpenFile(self, parent, title, options, sender=None):
    return request(self, 'OpenFile', sender, parent, title, options)


@dbus.service.method(MAIN_IFACE, in_signature='ssa{sv}', out_signature='o',
                     sender_keyword='sender')
def SaveFile(self, parent, title, options, sender=None):
    return request(self, 'SaveFile', sender, parent, title, options)


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='s')
def LastRequest(self):
    return json.dumps(self.calls[-1] if self.calls else None)


@dbus.service.method(MOCK_IFACE, in_signature='uas', out_signature='')
def Respond(self, response, uris):
    respond(self, self.handles[-1], response, uris)


@dbus.service.method(MOCK_IFACE, in_signature='uas', out_signature='')
def SetAnswer(self, response, uris):
    self.answer = (int(response), list(uris))


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def Closed(self):
    return [path for path in self.handles
            if getattr(mockobject.objects[path], 'closed_by_caller', False)]
