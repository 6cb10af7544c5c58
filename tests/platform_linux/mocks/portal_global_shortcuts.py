'''org.freedesktop.portal.GlobalShortcuts of the desktop portal.

CreateSession makes a Request at the path its handle token asks for and a Session at the path
its session handle token asks for, and answers with the session handle; BindShortcuts answers
with each shortcut bound, its trigger_description the parameter "trigger_description" or else
the preferred trigger. Parameter "hold_sessions" true keeps CreateSession's answers until the
mock method AnswerSessions(). Parameter "offered" false leaves out the interface's version property
(a portal without global shortcuts); the methods still answer and record. Mock methods:
Calls() gives every call as JSON (method, session, shortcuts); Closed() the sessions closed
with Session.Close; Activate(session, id) sends Activated for a shortcut.'''

import json

import dbus

from gi.repository import GLib
from dbusmock import MOCK_IFACE, mockobject

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.GlobalShortcuts'
SYSTEM_BUS = False

REQUEST_IFACE = 'org.freedesktop.portal.Request'
SESSION_IFACE = 'org.freedesktop.portal.Session'


def load(mock, parameters):
    mock.calls = []
    mock.closed = []
    mock.trigger_description = parameters.get('trigger_description')
    mock.hold_sessions = parameters.get('hold_sessions', False)
    mock.held = []
    if parameters.get('offered', True):
        mock.AddProperties(MAIN_IFACE, dbus.Dictionary({'version': dbus.UInt32(1)},
                                                       signature='sv'))


def handle(kind, sender, token):
    return '/org/freedesktop/portal/desktop/%s/%s/%s' % (
        kind, sender.lstrip(':').replace('.', '_'), token)


def request(mock, sender, options, results, hold=False):
    path = handle('request', sender, str(options['handle_token']))
    mock.AddObject(path, REQUEST_IFACE, {}, [])

    def respond():
        mockobject.objects[path].EmitSignal(
            REQUEST_IFACE, 'Response', 'ua{sv}',
            [dbus.UInt32(0), dbus.Dictionary(results, signature='sv')])
        return False
    if hold:
        mock.held.append(respond)
    else:
        # After the reply, as the portal answers.
        GLib.idle_add(respond)
    return dbus.ObjectPath(path)


@dbus.service.method(MAIN_IFACE, in_signature='a{sv}', out_signature='o',
                     sender_keyword='sender')
def CreateSession(self, options, sender=None):
    session = handle('session', sender, str(options['session_handle_token']))
    self.calls.append({'method': 'CreateSession', 'session': session})
    self.AddObject(session, SESSION_IFACE, {}, [
        ('Close', '', '', 'self.closed_by_caller = True'),
    ])
    return request(self, sender, options, {'session_handle': dbus.String(session)},
                   self.hold_sessions)


@dbus.service.method(MAIN_IFACE, in_signature='oa(sa{sv})sa{sv}', out_signature='o',
                     sender_keyword='sender')
def BindShortcuts(self, session, shortcuts, parent, options, sender=None):
    seen = [[str(id_), {str(k): str(v) for k, v in props.items()}] for id_, props in shortcuts]
    self.calls.append({'method': 'BindShortcuts', 'session': str(session), 'shortcuts': seen})
    bound = dbus.Array([
        dbus.Struct((id_, dbus.Dictionary({
            'description': dbus.String(props.get('description', '')),
            'trigger_description': dbus.String(
                self.trigger_description or props.get('preferred_trigger', '')),
        }, signature='sv'))) for id_, props in seen], signature='(sa{sv})')
    return request(self, sender, options, {'shortcuts': bound})


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='s')
def Calls(self):
    return json.dumps(self.calls)


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def Closed(self):
    return [path for path, obj in sorted(mockobject.objects.items())
            if '/session/' in path and getattr(obj, 'closed_by_caller', False)]


@dbus.service.method(MOCK_IFACE, in_signature='os', out_signature='')
def Activate(self, session, shortcut):
    self.EmitSignal(MAIN_IFACE, 'Activated', 'osta{sv}',
                    [session, shortcut, dbus.UInt64(0), dbus.Dictionary({}, signature='sv')])


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='')
def AnswerSessions(self):
    held, self.held = self.held, []
    for respond in held:
        respond()
