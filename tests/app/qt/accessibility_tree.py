#!/usr/bin/python3
'''Orvel's panel and windows as a screen reader reads them: through AT-SPI, under Xvfb.

Each run has its own X display, session bus and accessibility bus (at-spi-bus-launcher, which
starts the registry on it); Orvel runs on its simulated machine, past the agreement. The tree is
read with pyatspi, the way a screen reader reads it, and worked through the controls' own
actions: the panel (opened by a second launch), Custom Duration (opened from the panel's row)
and the General, Drives, Schedule and Advanced pages of Settings. Checks roles, names, labels,
checked, selected and enabled states and values, and that they follow a change. Meanwhile a second reader walks
the whole tree over and over, as a screen reader does, while windows open, draw again and close
(the panel and its rows, Custom Duration, every tab of Settings), and Orvel must outlive it.
Every wait has a limit of seconds. Exits 77 (skipped) with the reason where a program or
pyatspi is missing or cannot start.'''

import argparse
import os
import select
import shutil
import signal
import subprocess
import sys
import time

from real_tray_host import LIMIT, SKIP, Failure, Session, Skip, outcome, wait_for

# How often the walker meets every window opening, drawing again and closing.
ROUNDS = 4
BUS_LAUNCHERS = ['/usr/libexec/at-spi-bus-launcher', '/usr/lib/at-spi2-core/at-spi-bus-launcher']


class Reader:
    '''The accessibility tree of the running Orvel, read afresh at every question.'''

    def __init__(self, session):
        if session is not None:
            os.environ.update(session.env)
        # Imported once the display and buses are there: the library finds its bus at import.
        import gi
        gi.require_version('Atspi', '2.0')
        from gi.repository import Atspi
        import pyatspi
        self.atspi = Atspi
        self.pyatspi = pyatspi
        self.session = session
        self.app = None

    def alive(self):
        status = self.session.orvel.poll()
        if status is not None:
            how = f'on {signal.Signals(-status).name}' if status < 0 else f'with status {status}'
            raise Failure(f'Orvel ended {how} while read through AT-SPI')

    def wait(self, what, probe):
        '''wait_for, failing at once where Orvel has ended.'''
        def answered():
            self.alive()
            return probe()
        return wait_for(what, answered)

    def application(self):
        def found():
            self.alive()
            desktop = self.pyatspi.Registry.getDesktop(0)
            for i in range(desktop.childCount):
                app = desktop.getChildAtIndex(i)
                if app is not None and app.name == 'Orvel':
                    return app
            return None
        self.app = self.wait('Orvel on the accessibility bus', found)
        # Nothing here runs the library's event loop, so nothing it caches would ever be
        # brought up to date: every question goes to Orvel.
        self.app.set_cache_mask(self.atspi.Cache.NONE)
        return self.app

    def states(self, node):
        return {self.pyatspi.stateToString(s) for s in node.getState().getStates()}

    def nodes(self, node, depth=0):
        '''Every node under node, depth first; a node that went away mid-walk is passed over.'''
        if depth > 60:
            return
        yield node
        try:
            count = node.childCount
        except Exception:  # pylint: disable=broad-except
            return
        for i in range(count):
            try:
                child = node.getChildAtIndex(i)
            except Exception:  # pylint: disable=broad-except
                continue
            if child is not None:
                yield from self.nodes(child, depth + 1)

    def window(self, name):
        '''A shown top-level window of Orvel, by name, within the limit.'''
        def shown():
            for i in range(self.app.childCount):
                window = self.app.getChildAtIndex(i)
                if window is not None and window.name == name and \
                        'showing' in self.states(window):
                    return window
            return None
        try:
            return self.wait(f'the window "{name}" to be read', shown)
        except Failure as failure:
            raise Failure(f'{failure}\nOrvel\'s windows: {self.windows()}') from failure

    def windows(self):
        return [(w.getRoleName(), w.name, sorted(self.states(w)))
                for w in (self.app.getChildAtIndex(i) for i in range(self.app.childCount)) if w]

    def find(self, root, role, name, showing=True):
        for node in self.nodes(root):
            if node.getRoleName() == role and node.name == name and \
                    (not showing or 'showing' in self.states(node)):
                return node
        return None

    def control(self, root, role, name):
        node = self.find(root, role, name)
        if node is None:
            raise Failure(f'no {role} named "{name}" in "{root.name}"; it reads:\n'
                          + self.dump(root))
        return node

    def dump(self, root):
        lines = []
        for node in self.nodes(root):
            if node.getRoleName() in ('filler', 'panel') and not node.name:
                continue
            states = self.states(node) & {'checked', 'selected', 'focusable', 'enabled'}
            lines.append(f'  {node.getRoleName()} "{node.name}" {sorted(states)}'
                         f'{self.value_text(node)}')
        return '\n'.join(lines[:400])

    def value_text(self, node):
        value = node.queryValue() if 'Value' in self.pyatspi.listInterfaces(node) else None
        return f' value {value.currentValue:g}' if value else ''

    def labels(self, node):
        '''The names of the nodes a node is labelled by.'''
        return [relation.getTarget(i).name for relation in node.getRelationSet()
                if relation.getRelationType() == self.pyatspi.RELATION_LABELLED_BY
                for i in range(relation.getNTargets())]

    def press(self, node, action='Press'):
        actions = node.queryAction()
        names = [actions.getName(i) for i in range(actions.nActions)]
        if action not in names:
            raise Failure(f'the {node.getRoleName()} "{node.name}" has no action "{action}" '
                          f'(only {names})')
        actions.doAction(names.index(action))

    def wait_state(self, node, state, present, what):
        self.wait(what, lambda: (state in self.states(node)) == present)


def expect(report, what, found, wanted):
    if found != wanted:
        raise Failure(f'{what}: read {found!r}, expected {wanted!r}')
    report.append(f'{what}: {found!r}')


DURATIONS = ['Indefinitely', '15 minutes', '30 minutes', '1 hour', '2 hours', '5 hours',
             'Custom\u2026', 'Until an app quits\u2026']


def durations(reader, panel):
    return [n for n in reader.nodes(panel) if n.getRoleName() == 'radio button']


def chosen(reader, rows):
    return [row.name for row in rows if 'checked' in reader.states(row)]


def check_panel(reader, report):
    panel = reader.window('Orvel Panel')
    expect(report, 'the panel', panel.getRoleName(), 'frame')
    # Each switch is named by what it does, not by the program.
    session = reader.control(panel, 'check box', 'Keep Awake')
    expect(report, 'the session switch reads off', 'checked' in reader.states(session), False)
    saver = reader.control(panel, 'check box', 'Disable Screen Saver')
    expect(report, 'the screen saver switch carries its caption', saver.description,
           'Stops it starting while Orvel runs')
    display = reader.control(panel, 'check box', 'Prevent Display Sleep')
    expect(report, 'a sleep switch carries its caption', display.description, 'Screen stays on')
    was = 'checked' in reader.states(display)
    reader.press(display, 'Toggle')
    reader.wait_state(display, 'checked', not was, 'the switch to read its new state')
    report.append(f'"Prevent Display Sleep" toggled through AT-SPI: checked {not was}')
    reader.press(display, 'Toggle')
    reader.wait_state(display, 'checked', was, 'the switch to read its state again')
    # A duration is a radio button named as its row shows it, its flag left out.
    rows = durations(reader, panel)
    expect(report, 'the duration rows read as radio buttons', [row.name for row in rows],
           DURATIONS)
    buttons = [n.name for n in reader.nodes(panel) if n.getRoleName() == 'push button']
    for wanted in ('Settings\u2026', 'Quit Orvel'):
        if wanted not in buttons:
            raise Failure(f'no row named "{wanted}" among the panel\'s buttons {buttons}')
    first = chosen(reader, rows)
    expect(report, 'one duration reads as checked', len(first), 1)
    fifteen = rows[DURATIONS.index('15 minutes')]
    if first == [fifteen.name]:
        raise Failure('15 minutes is chosen already; the test needs another start value')
    reader.press(fifteen)
    reader.wait('15 minutes to read as the one checked',
                lambda: chosen(reader, rows) == ['15 minutes'])
    report.append(f'choosing 15 minutes through AT-SPI moves "checked" from {first[0]!r}')
    return panel, rows + [n for n in reader.nodes(panel) if n.getRoleName() == 'push button']


def check_custom_duration(reader, report, rows):
    reader.press(row(rows, 'Custom\u2026'))
    window = reader.window('Custom Duration')
    for name, text, maximum in (('Hours', '1', 72), ('Minutes', '30', 59)):
        field = reader.control(window, 'text', name)
        expect(report, f'the {name} field\'s text', field.queryText().getText(0, -1), text)
        expect(report, f'the {name} field is enabled', 'enabled' in reader.states(field), True)
        spin = reader.control(window, 'spin button', name)
        value = spin.queryValue()
        expect(report, f'the {name} stepper\'s value and range',
               (value.currentValue, value.minimumValue, value.maximumValue),
               (float(text), 0.0, float(maximum)))
    minutes = reader.control(window, 'spin button', 'Minutes')
    reader.press(minutes, 'Increase')
    field = reader.control(window, 'text', 'Minutes')
    reader.wait('the stepped minutes to be read', lambda: (
        minutes.queryValue().currentValue == 31 and field.queryText().getText(0, -1) == '31'))
    report.append('one step up through AT-SPI reads 31 minutes in the stepper and the field')
    for name in ('Cancel', 'Set', 'Set and Start'):
        reader.control(window, 'push button', name)
    reader.press(reader.control(window, 'push button', 'Cancel'))
    reader.wait_state(window, 'showing', False, 'Cancel to close Custom Duration')


def check_settings(reader, report, rows):
    reader.press(row(rows, 'Settings\u2026'))
    window = reader.window('Orvel Settings')
    tabs = reader.control(window, 'page tab list', '')
    names = [tabs.getChildAtIndex(i).name for i in range(tabs.childCount)]
    expect(report, 'the Settings tabs', names[:2], ['General', 'Automations & Triggers'])
    general = reader.control(tabs, 'page tab', 'General')
    expect(report, 'General is the chosen tab', 'selected' in reader.states(general), True)
    switch = reader.control(window, 'check box', 'Show remaining time next to the icon')
    report.append('General: "Show remaining time next to the icon" reads as a check box, '
                  f'checked {"checked" in reader.states(switch)}')
    appears = reader.control(window, 'panel', 'Appears as:')
    segments = {n.name: 'checked' in reader.states(n) for n in reader.nodes(appears)
                if n.getRoleName() == 'radio button'}
    expect(report, 'General: the segmented "Appears as:" picker', segments,
           {'Tray only': True, 'Tray + task bar': False})
    # A menu picker is named by its label and labelled by it, framed or not.
    for label in ('Default duration:', 'Tray icon clicks:', 'Check in the background:'):
        combo = reader.control(window, 'combo box', label)
        expect(report, f'General: the menu "{label}" is labelled by', reader.labels(combo),
               [label])
    drives = reader.control(tabs, 'page tab', 'Drives')
    reader.press(drives)
    reader.wait_state(drives, 'selected', True, 'the Drives tab to read as chosen')
    interval = reader.wait('the Drives page', lambda: reader.find(window, 'combo box',
                                                                  'Keep-alive interval'))
    expect(report, 'Drives: the menu "Keep-alive interval" is labelled by',
           reader.labels(interval), ['Keep-alive interval'])
    check_schedule(reader, report, window, tabs)
    advanced = reader.control(tabs, 'page tab', 'Advanced')
    reader.press(advanced)
    reader.wait_state(advanced, 'selected', True, 'the Advanced tab to read as chosen')
    expect(report, 'General is no longer chosen', 'selected' in reader.states(general), False)
    engines = reader.control(window, 'panel', 'Engine:')
    radios = {n.name: 'checked' in reader.states(n) for n in reader.nodes(engines)
              if n.getRoleName() == 'radio button'}
    expect(report, 'Advanced: the engine picker\'s radio buttons', radios,
           {'logind inhibitor locks (recommended)': True,
            'caffeinate command (compatibility mode)': False})
    clear = reader.control(window, 'push button', 'Clear Simulation')
    expect(report, 'Advanced: "Clear Simulation" is disabled with nothing simulated',
           'enabled' in reader.states(clear), False)


def check_schedule(reader, report, window, tabs):
    '''A new repeating window\'s From and To read their times as minutes of the day.'''
    reader.press(reader.control(tabs, 'page tab', 'Automations & Triggers'))
    schedule = reader.wait('the Schedule segment', lambda: reader.find(window, 'radio button',
                                                                       'Schedule'))
    reader.press(schedule)
    reader.wait_state(schedule, 'checked', True, 'the Schedule page to read as chosen')
    reader.press(reader.wait('Add Rule', lambda: reader.find(window, 'push button',
                                                             'Add Rule\u2026')))

    def menu_item():
        for i in range(reader.app.childCount):
            menu = reader.app.getChildAtIndex(i)
            found = menu and reader.find(menu, 'menu item', 'Repeating Window')
            if found:
                return found
        return None
    reader.press(reader.wait('the Add Rule menu to be read', menu_item))
    for name, minutes, text in (('From', 21 * 60, '21:00'), ('To', 7 * 60, '07:00')):
        field = reader.wait(f'the {name} field', lambda n=name: reader.find(window, 'spin button',
                                                                             n))
        value = field.queryValue()
        expect(report, f'Schedule: the {name} field\'s value and range in minutes',
               (value.currentValue, value.minimumValue, value.maximumValue),
               (float(minutes), 0.0, 1439.0))
        expect(report, f'Schedule: the {name} field\'s text', field.queryText().getText(0, -1),
               text)
    reader.control(window, 'spin button', 'From').queryValue().currentValue = 21 * 60 + 30

    def written():
        field = reader.find(window, 'spin button', 'From')
        return field and field.queryValue().currentValue == 21 * 60 + 30 and \
            field.queryText().getText(0, -1) == '21:30'
    reader.wait('the From time a reader wrote to be read back', written)
    report.append('Schedule: 21:30 written to From through AT-SPI reads back as 1290 minutes')


def open_panel(session, reader):
    # No tray runs here: a second launch asks the first to open its panel.
    second = session.run(session.args.orvel, '--simulate')
    if 'panel was opened' not in second.stderr + second.stdout:
        reader.alive()
        raise Failure(f'a second launch did not open the panel: {second.stderr.strip()}')
    panel = reader.window('Orvel Panel')
    return panel, [n for n in reader.nodes(panel)
                   if n.getRoleName() in ('push button', 'radio button')]


def row(rows, name):
    return next(r for r in rows if r.name == name)


def churn(session, reader, report, rounds):
    '''Opens, draws again and closes every window a few times over, for the walker to meet.'''
    for turn in range(rounds):
        panel, rows = open_panel(session, reader)
        pick = row(rows, ('30 minutes', '1 hour')[turn % 2])
        reader.press(pick)
        reader.wait(f'"{pick.name}" to read as chosen',
                    lambda: chosen(reader, durations(reader, panel)) == [pick.name])
        reader.press(row(rows, 'Custom\u2026'))
        window = reader.window('Custom Duration')
        minutes = reader.control(window, 'spin button', 'Minutes')
        value = minutes.queryValue().currentValue
        reader.press(minutes, 'Increase')
        reader.wait('the stepped minutes', lambda: minutes.queryValue().currentValue == value + 1)
        reader.press(reader.control(window, 'push button', 'Cancel'))
        reader.wait_state(window, 'showing', False, 'Cancel to close Custom Duration')
        _, rows = open_panel(session, reader)
        reader.press(row(rows, 'Settings\u2026'))
        window = reader.window('Orvel Settings')
        count = reader.control(window, 'page tab list', '').childCount
        for index in range(count):
            tab = reader.control(window, 'page tab list', '').getChildAtIndex(index)
            reader.press(tab)
            reader.wait_state(tab, 'selected', True, f'the tab "{tab.name}" to read as chosen')
        found = session.run('xdotool', 'search', '--name', '^Orvel Settings$').stdout.split()
        for command in (['windowfocus'] + found[:1], ['key', 'ctrl+w']):
            session.run('xdotool', *command)
        reader.wait_state(window, 'showing', False, 'Ctrl+W to close Settings')
    reader.alive()
    report.append(f'{rounds} times over: the panel, a row chosen, Custom Duration stepped and '
                  f'cancelled, {count} tabs of Settings chosen and the window closed')


def walk():
    '''The walker\'s process: reads every node of Orvel\'s tree, name, role and states, over
    and over until its input ends; prints how many walks and nodes it read.'''
    reader = Reader(None)
    walks = nodes = 0
    deadline = time.monotonic() + 4 * LIMIT
    while time.monotonic() < deadline and not select.select([sys.stdin], [], [], 0)[0]:
        desktop = reader.pyatspi.Registry.getDesktop(0)
        for index in range(desktop.childCount):
            try:
                app = desktop.getChildAtIndex(index)
                if app is None or app.name != 'Orvel':
                    continue
                app.set_cache_mask(reader.atspi.Cache.NONE)
            except Exception:  # pylint: disable=broad-except
                continue
            for node in reader.nodes(app):
                try:
                    node.name, node.getRoleName(), node.getState()
                except Exception:  # pylint: disable=broad-except
                    continue
                nodes += 1
            walks += 1
    print(walks, nodes)
    return 0


def check(session):
    report = []
    session.start_display()
    launcher = next((path for path in BUS_LAUNCHERS if os.access(path, os.X_OK)), None)
    if launcher is None:
        raise Skip(f'no at-spi-bus-launcher in {BUS_LAUNCHERS} (scripts/install-deps installs '
                   'at-spi2-core)')
    bus = session.start([launcher, '--launch-immediately'], 'at-spi-bus-launcher',
                        stdout=subprocess.DEVNULL, stderr=session.output_file('launcher'))
    wait_for('the accessibility bus', lambda: (
        session.alive(bus, 'at-spi-bus-launcher') or
        'org.a11y.Bus' in session.run('dbus-send', '--session', '--print-reply',
                                      '--dest=org.freedesktop.DBus', '/org/freedesktop/DBus',
                                      'org.freedesktop.DBus.ListNames').stdout))
    # Qt serves the tree only when a reader says it runs, unless told always to.
    session.env.update(QT_ACCESSIBILITY='1', QT_LINUX_ACCESSIBILITY_ALWAYS_ON='1')
    session.start_orvel()
    wait_for('Orvel to start', lambda: (
        session.orvel.poll() is not None or 'info: ready: ' in session.orvel_log()))
    reader = Reader(session)
    reader.application()
    walker = session.start([sys.executable, os.path.abspath(__file__), '--walk'], 'the walker',
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                           stderr=session.output_file('walker'), text=True)
    try:
        open_panel(session, reader)
        _, rows = check_panel(reader, report)
        check_custom_duration(reader, report, rows)
        check_settings(reader, report, rows)
        churn(session, reader, report, ROUNDS)
    except Exception:
        # A question to an Orvel that has ended fails in the library's words; say what ended.
        reader.alive()
        raise
    try:
        walked, _ = walker.communicate(timeout=LIMIT)
    except subprocess.TimeoutExpired as expired:
        raise Failure('the walker did not end within the limit') from expired
    reader.alive()
    walks, nodes = (walked.split() + ['0', '0'])[:2]
    if walker.returncode != 0 or int(walks) == 0:
        raise Failure(f'the walker ended with status {walker.returncode} after {walks} walks:\n'
                      + session.output_of('walker'))
    report.append(f'Orvel outlived a reader walking its whole tree {walks} times ({nodes} nodes)')
    return report


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--orvel')
    parser.add_argument('--walk', action='store_true', help='be the walker (run by the test)')
    args = parser.parse_args()
    if args.walk:
        return walk()
    if not args.orvel:
        parser.error('--orvel is required')
    args.host, args.png, args.grab = 'accessibility', None, None

    missing = [p for p in ('Xvfb', 'dbus-daemon', 'dbus-send', 'xdotool')
               if shutil.which(p) is None]
    if missing:
        print(f'SKIP: needs {", ".join(missing)} (scripts/install-deps installs them)')
        return SKIP
    probe = subprocess.run(['/usr/bin/python3', '-c', 'import gi; gi.require_version("Atspi", '
                            '"2.0"); import pyatspi'], capture_output=True, text=True,
                           check=False)
    if probe.returncode != 0:
        print('SKIP: /usr/bin/python3 cannot import pyatspi (scripts/install-deps installs '
              f'python3-pyatspi and gir1.2-atspi-2.0): {probe.stderr.strip()[-300:]}')
        return SKIP

    session = Session(args)
    return outcome(session, args.host, lambda: check(session))

if __name__ == '__main__':
    sys.exit(main())
