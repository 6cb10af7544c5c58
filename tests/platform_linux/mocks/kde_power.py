'''KDE's global shortcuts (org.kde.kglobalaccel) with powerdevil's component, whose shortcuts are
invoked by name, and powerdevil's own name org.kde.Solid.PowerManagement, taken unless the
parameter "powerdevil" is false. Mock method Invoked() lists the shortcuts invoked so far.'''

import dbus

from dbusmock import MOCK_IFACE

BUS_NAME = 'org.kde.kglobalaccel'
MAIN_OBJ = '/component/org_kde_powerdevil'
MAIN_IFACE = 'org.kde.kglobalaccel.Component'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.invoked = []
    if parameters.get('powerdevil', True):
        mock.connection.request_name('org.kde.Solid.PowerManagement')


@dbus.service.method(MAIN_IFACE, in_signature='s', out_signature='')
def invokeShortcut(self, name):
    self.invoked.append(name)


@dbus.service.method(MOCK_IFACE, in_signature='', out_signature='as')
def Invoked(self):
    return dbus.Array(self.invoked, signature='s')
