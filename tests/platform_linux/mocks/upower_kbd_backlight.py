'''UPower's keyboard backlight (org.freedesktop.UPower.KbdBacklight), as upowerd serves it:
a level of 0 to GetMaxBrightness, SetBrightness announcing each change with BrightnessChanged.

Parameters: "max" and "brightness" (defaults 3 and 1); "refuse_set": an error name every
SetBrightness fails with; "set_signature": the arguments SetBrightness takes (default "i"), for a
method whose signature changed. Mock methods: Press (the user's keys change the level, which is
announced) and SetCalls (the levels asked for, in order).'''

import dbus

from dbusmock import MOCK_IFACE

BUS_NAME = 'org.freedesktop.UPower'
MAIN_OBJ = '/org/freedesktop/UPower/KbdBacklight'
MAIN_IFACE = 'org.freedesktop.UPower.KbdBacklight'
SYSTEM_BUS = True


def load(mock, parameters):
    mock.max_brightness = int(parameters.get('max', 3))
    mock.brightness = int(parameters.get('brightness', 1))
    mock.refuse_set = parameters.get('refuse_set', '')
    mock.set_calls = []

    def change(value):
        mock.brightness = int(value)
        mock.EmitSignal(MAIN_IFACE, 'BrightnessChanged', 'i', [dbus.Int32(mock.brightness)])

    def set_brightness(value):
        mock.set_calls.append(int(value))
        if mock.refuse_set:
            raise dbus.exceptions.DBusException('refused by the test', name=mock.refuse_set)
        change(value)

    mock.change = change
    mock.set_brightness = set_brightness
    mock.AddMethods(MAIN_IFACE, [
        ('GetMaxBrightness', '', 'i', 'ret = dbus.Int32(self.max_brightness)'),
        ('GetBrightness', '', 'i', 'ret = dbus.Int32(self.brightness)'),
        ('SetBrightness', parameters.get('set_signature', 'i'), '', 'self.set_brightness(args[0])'),
    ])


@dbus.service.method(MOCK_IFACE, in_signature='i', out_signature='')
def Press(self, value):
    self.change(value)


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='ai')
def SetCalls(self):
    return dbus.Array(self.set_calls, signature='i')
