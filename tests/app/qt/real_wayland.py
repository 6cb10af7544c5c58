#!/usr/bin/python3
'''Orvel on a real Wayland desktop: a headless sway with waybar's tray, driven over D-Bus.

sway runs headless (no GPU, no input devices) on a private runtime folder, its output 1280 × 800,
with waybar along its top (--bar bottom: its bottom) showing only its tray (a StatusNotifierItem host with its own watcher); Orvel runs on its simulated
machine (nothing on this system is held) as a native Wayland client, past the agreement through
an assent record; with --platform xcb it is an X client of sway's XWayland instead. sway refuses to run as root: as root, every program of the run runs as the
unprivileged user: in a user namespace of its own (unshare), else as "nobody" (setpriv, else
runuser); elsewhere as the user running the test. Where none can, it is skipped, and fails in CI
(CI=true).

The item is driven as waybar drives it (Activate and ContextMenu with the widget-local point
waybar sends, the com.canonical.dbusmenu menu's entries) and the windows are read with swaymsg:
the icon shows in the bar and reads on it (4.5:1, idle and during a session); Orvel knows that
the tray draws no label; Activate starts
and stops a session (the saved session says so); ContextMenu and "Open Orvel…" show the panel
(it floats, is smaller than the output and stands by the icon, where the pointer is), which
closes when the focus goes to another workspace; the menu's toggle starts and stops a session;
"Settings…" and "Help…" open their windows, and closing them with swaymsg leaves Orvel running;
"Quit Orvel" ends Orvel and its item leaves the tray.
What the desktop should do is in EXPECTATIONS: each is printed as met or not and asserted.
Screenshots (grim) go to <png>/realwayland-*.png (realxwayland-*.png for xcb; -bottom- after
either with the bar at the bottom).
Every wait has a limit of seconds. Exits 77 (skipped) with the reason where a program is
missing or cannot start.'''

import argparse
import grp
import json
import os
import pwd
import re
import shutil
import subprocess
import sys
import time

from real_tray_host import (LIMIT, SKIP, Failure, Session, Skip, check_legible, data_dirs,
                            outcome, read_line, wait_for)

# Who runs the session where the test runs as root and no user namespace can be made: the
# unprivileged account every system has.
USER = 'nobody'
# The user a namespace of the session's own maps root to.
NAMESPACE_USER = 1000
BAR_HEIGHT = 30
OUTPUT_SIZE = '1280x800'
# Where waybar says a click on its tray icon was: inside the icon's own widget, not on screen.
WIDGET_POINT = (10, 17)

# What the desktop should see and does not everywhere yet: name → why it matters.
EXPECTATIONS = {
    'panel floats': 'sway tiles a window it does not float over the whole workspace',
    'panel is smaller than the output': 'a panel as wide as the screen halves the user\'s '
                                        'other windows',
    'panel is near the icon': 'the panel opens where the user clicked',
    'panel from the menu is near the icon': 'the panel opens where the user chose it',
    'panel has its own title': 'the panel and About must not share the title "Orvel"',
    'Activate while the panel is open only closes it': 'a left click on the icon closes the '
                                                       'open panel, as on X11',
    'a right click toggles with the buttons swapped': 'waybar shows an item\'s menu on the right '
                                                      'button instead of sending ContextMenu',
    'a left click opens the panel with the buttons swapped': 'the setting swaps the two buttons',
    'Settings floats, spans or centres in its window': 'Settings laid out to the window\'s size, or a fixed '
                                           'size sway floats',
    'a click on the panel leaves it open': 'the panel is worked with the pointer',
    'a click on the bar away from the icon closes the panel': 'the panel closes on a click '
                                                              'anywhere outside it, as on X11 '
                                                              'and as a popup does',
    'the click after it reaches the bar': 'only the one dismissing click is kept from other '
                                          'programs, as a popup keeps it',
}


def user_command():
    '''The prefix that runs a program as the session's user, and the account to hand the
    session's files to (none where they need not be handed over); Skip where none can.'''
    if os.geteuid() != 0:
        return [], None
    # In a user namespace root is an ordinary user, and what it writes stays root's outside.
    namespace = ['unshare', '--user', f'--map-user={NAMESPACE_USER}',
                 f'--map-group={NAMESPACE_USER}', '--']
    candidates = [(namespace, None)]
    try:
        group = grp.getgrgid(pwd.getpwnam(USER).pw_gid).gr_name
        candidates += [(['setpriv', f'--reuid={USER}', f'--regid={group}', '--clear-groups',
                         '--'], USER), (['runuser', '-m', '-u', USER, '--'], USER)]
    except KeyError:
        pass
    for prefix, owner in candidates:
        if shutil.which(prefix[0]) and subprocess.run(
                prefix + ['true'], capture_output=True, timeout=LIMIT,
                check=False).returncode == 0:
            return prefix, owner
    raise Skip('sway refuses to run as root, and this machine lets no program run in a user '
               f'namespace of its own or as "{USER}"')


class WaylandSession(Session):
    '''A headless sway with waybar, a private session bus and home, run as one user.'''

    def __init__(self, args, prefix, owner):
        self.prefix = prefix
        self.owner = owner
        args.host = 'sway'
        super().__init__(args)
        self.platform = args.platform
        self.bar_at = args.bar
        self.shots = ('realwayland' if self.platform == 'wayland' else 'realxwayland') + \
            ('-bottom' if self.bar_at == 'bottom' else '')
        self.output = None
        self.pointer = None

    def command(self, command):
        return self.prefix + list(command)

    def hand_over(self):
        if not self.owner:
            return
        user = pwd.getpwnam(self.owner)
        group = grp.getgrgid(user.pw_gid).gr_gid
        for folder, dirs, files in os.walk(self.root):
            os.chown(folder, user.pw_uid, group)
            for name in dirs + files:
                os.chown(os.path.join(folder, name), user.pw_uid, group, follow_symlinks=False)

    def start_display(self):
        home = os.path.join(self.root, 'home')
        runtime = os.path.join(self.root, 'runtime')
        for folder in (home, runtime):
            os.makedirs(folder, mode=0o700)
        config = os.path.join(home, 'config')
        os.makedirs(os.path.join(config, 'waybar'))
        display = os.path.join(self.root, 'display')
        with open(os.path.join(self.root, 'sway.conf'), 'w', encoding='utf-8') as out:
            # Tall enough for the panel to fit under the pointer's half of it.
            out.write(f'output * mode {OUTPUT_SIZE}\n')
            if self.platform == 'xcb':
                # sway names its X server to the programs it starts.
                out.write(f'xwayland enable\nexec printenv DISPLAY > {display}.new && '
                          f'mv {display}.new {display}\n')
            else:
                out.write('xwayland disable\n')
        with open(os.path.join(config, 'waybar', 'config'), 'w', encoding='utf-8') as out:
            json.dump({'layer': 'top', 'position': self.bar_at, 'height': BAR_HEIGHT,
                       'modules-right': ['tray'], 'tray': {'icon-size': 22, 'spacing': 6}},
                      out)
        with open(os.path.join(config, 'waybar', 'style.css'), 'w', encoding='utf-8') as out:
            out.write('* { font-family: sans-serif; font-size: 13px; }\n'
                      'window#waybar { background: #202020; color: #ffffff; }\n'
                      # Room right of the icon, where the bar's own colour is read.
                      '#tray { padding: 0 16px; }\n')
        self.hand_over()
        self.env = {
            'PATH': os.environ.get('PATH', '/usr/bin:/bin'),
            'HOME': home,
            'USER': self.owner or os.environ.get('USER', ''),
            'XDG_RUNTIME_DIR': runtime,
            'XDG_CONFIG_HOME': config,
            'XDG_DATA_HOME': os.path.join(home, 'data'),
            'XDG_CACHE_HOME': os.path.join(home, 'cache'),
            'XDG_DATA_DIRS': data_dirs(self.root),
            'LANG': 'C.UTF-8',
            'WLR_BACKENDS': 'headless',
            'WLR_LIBINPUT_NO_DEVICES': '1',
            # Drawn in memory: the machine needs no GPU.
            'WLR_RENDERER': 'pixman',
            # No accessibility bus for waybar to start and leave behind.
            'NO_AT_BRIDGE': '1',
        }
        bus = self.start(['dbus-daemon', '--session', '--nofork', '--print-address=1'],
                         'dbus-daemon', stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.env['DBUS_SESSION_BUS_ADDRESS'] = read_line(bus.stdout, LIMIT, 'dbus-daemon')

        sway = self.start(['sway', '-c', os.path.join(self.root, 'sway.conf')], 'sway',
                          stdout=subprocess.DEVNULL, stderr=self.output_file('sway'),
                          cwd=self.root)

        def sockets():
            if sway.poll() is not None:
                raise Skip(f'sway ended at start-up with status {sway.returncode}:\n'
                           + self.output_of('sway'))
            names = os.listdir(runtime)
            ipc = [n for n in names if n.startswith('sway-ipc.') and n.endswith('.sock')]
            wayland = [n for n in names if re.fullmatch(r'wayland-\d+', n)]
            return (ipc[0], wayland[0]) if ipc and wayland else None

        ipc, wayland = wait_for('sway to open its sockets', sockets)
        self.env['SWAYSOCK'] = os.path.join(runtime, ipc)
        self.env['WAYLAND_DISPLAY'] = wayland

        def output():
            found = self.run('swaymsg', '-r', '-t', 'get_outputs')
            active = [o for o in json.loads(found.stdout or '[]') if o.get('active')] \
                if found.returncode == 0 else []
            return active[0]['rect'] if active else None

        self.output = wait_for('sway to show an output', output)
        if self.platform == 'xcb':
            def named():
                if sway.poll() is not None:
                    raise Skip(f'sway ended with status {sway.returncode}:\n'
                               + self.output_of('sway'))
                if not os.path.exists(display):
                    return None
                with open(display, encoding='utf-8') as named_display:
                    return named_display.read().strip() or None

            self.env['DISPLAY'] = wait_for('sway to name its X server', named)

    def start_pointer(self):
        '''A pointer of the test's own (the headless seat has none), there before the clients
        that should see it.'''
        if not self.args.pointer:
            return
        self.pointer = self.start([self.args.pointer], 'the test\'s pointer', stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        answer = read_line(self.pointer.stdout, LIMIT, 'the test\'s pointer')
        if answer != 'ready':
            raise Skip(f'the test\'s pointer cannot click on this sway: {answer}')

    def click_at(self, x, y, verb='click'):
        '''A left click at a point of the output (or the pointer moved there), once sway has
        taken it.'''
        self.pointer.stdin.write(f'{verb} {x} {y} {self.output["width"]} '
                                 f'{self.output["height"]}\n'.encode())
        self.pointer.stdin.flush()
        answer = read_line(self.pointer.stdout, LIMIT, 'the test\'s pointer')
        if answer != {'click': 'clicked', 'move': 'moved'}[verb]:
            raise Failure(f'the test\'s pointer did not {verb} at ({x}, {y}): {answer}')
        return True

    def start_waybar(self):
        bar = self.start(['waybar'], 'waybar', stdout=self.output_file('waybar'),
                         stderr=subprocess.STDOUT, cwd=self.root)
        try:
            wait_for('waybar\'s tray to run its watcher', lambda: (
                self.alive(bar, 'waybar') or
                'org.kde.StatusNotifierWatcher' in self.run(
                    'dbus-send', '--session', '--print-reply', '--dest=org.freedesktop.DBus',
                    '/org/freedesktop/DBus', 'org.freedesktop.DBus.ListNames').stdout))
        except Skip as skip:
            raise Skip(f'{skip}:\n{self.output_of("waybar")}') from skip

    # --- looking at the screen -------------------------------------------------------------

    def grab(self, name=None, zoom=None):
        '''The screen's pixels (width, height, bytes); saved as PNG under the name, if given.'''
        def grim(kind, *extra):
            result = subprocess.run(self.command(['grim', '-t', kind, *extra, '-']),
                                    env=self.env, capture_output=True, timeout=LIMIT,
                                    check=False)
            if result.returncode != 0:
                raise Failure('grim could not grab the screen: '
                              + result.stderr.decode(errors='replace').strip())
            return result.stdout

        if name:
            with open(os.path.join(self.args.png, f'{self.shots}-{name}.png'), 'wb') as out:
                out.write(grim('png'))
            if zoom:
                x, y, w, h = zoom
                with open(os.path.join(self.args.png, f'{self.shots}-{name}-zoom.png'),
                          'wb') as out:
                    out.write(grim('png', '-s', '6', '-g', f'{x},{y} {w}x{h}'))
        raw = grim('ppm')
        match = re.match(rb'P6\s+(\d+)\s+(\d+)\s+255\s', raw)
        if not match:
            raise Failure('grim\'s picture is not a PPM')
        return int(match.group(1)), int(match.group(2)), raw[match.end():]

    def windows(self):
        '''Orvel's windows as sway holds them: title, whether floating, rect on the output.'''
        found = self.run('swaymsg', '-r', '-t', 'get_tree')
        if found.returncode != 0:
            raise Failure(f'swaymsg could not read the tree: {found.stderr.strip()}')
        views = []

        def walk(node):
            app = (node.get('app_id') or '').lower()
            if node.get('pid') == self.orvel.pid or app.startswith('orvel'):
                if node.get('type') in ('con', 'floating_con') and not node.get('nodes'):
                    views.append({'id': node['id'], 'title': node.get('name') or '',
                                  'floating': node['type'] == 'floating_con',
                                  'rect': (node['rect']['x'] - self.output['x'],
                                           node['rect']['y'] - self.output['y'],
                                           node['rect']['width'], node['rect']['height']),
                                  'focused': node.get('focused', False),
                                  'x window': node.get('window')})
            for child in node.get('nodes', []) + node.get('floating_nodes', []):
                walk(child)

        walk(json.loads(found.stdout))
        return views

    def restart_orvel(self, **settings):
        '''Orvel again, on the settings it saved and these.'''
        with open(self.defaults, encoding='utf-8') as stored:
            saved = json.load(stored)
        saved.update(settings)
        with open(self.defaults, 'w', encoding='utf-8') as out:
            json.dump(saved, out)
        self.hand_over()
        env = dict(self.env, QT_QPA_PLATFORM=self.platform)
        with open(self.log, 'a', encoding='utf-8') as log:
            self.orvel = subprocess.Popen(self.command([self.args.orvel, '--simulate']), env=env,
                                          stdout=log, stderr=subprocess.STDOUT)
        self.children.append(('Orvel', self.orvel))

    def x_focus(self):
        '''The window the X server gives the focus to, for XWayland runs with xdotool.'''
        if self.platform != 'xcb' or not shutil.which('xdotool'):
            return 'no X window'
        return self.run('xdotool', 'getwindowfocus').stdout.strip() or 'none'

    def swaymsg(self, *command):
        result = self.run('swaymsg', *command)
        if result.returncode != 0:
            raise Failure(f'swaymsg {" ".join(command)} failed: {result.stdout.strip()} '
                          f'{result.stderr.strip()}')

    # --- the item, as waybar drives it --------------------------------------------------------

    def call(self, path, method, *arguments):
        '''A method of Orvel's item; its reply as gdbus prints it.'''
        name, _ = self.item()
        result = self.run('gdbus', 'call', '--session', '--dest', name, '--object-path', path,
                          '--method', method, '--', *arguments)
        if result.returncode != 0:
            raise Failure(f'{method} failed: {result.stderr.strip()}')
        return result.stdout

    def click(self, method, point=WIDGET_POINT):
        _, path = self.item()
        self.call(path, f'org.kde.StatusNotifierItem.{method}', *map(str, point))

    def menu(self):
        '''The item's menu entries: label → id.'''
        layout = self.call('/MenuBar', 'com.canonical.dbusmenu.GetLayout', '0', '-1', '@as []')
        return {label: int(number) for number, label in
                re.findall(r"\((\d+), \{[^}]*'label': <'([^']*)'>", layout)}

    def choose(self, label):
        '''Chooses a menu entry as waybar does: the menu is about to show, then the click.'''
        entries = self.menu()
        if label not in entries:
            raise Failure(f'the item\'s menu has no "{label}": {sorted(entries)}')
        self.call('/MenuBar', 'com.canonical.dbusmenu.AboutToShow', '0')
        self.call('/MenuBar', 'com.canonical.dbusmenu.Event', str(entries[label]), 'clicked',
                  '<"">', '0')


class Expectations:
    '''What should hold: printed, and asserted.'''

    def __init__(self):
        self.unmet = []

    def see(self, name, met, evidence):
        print(f'expectation "{name}": {"met" if met else "NOT MET"} ({evidence})')
        if not met:
            self.unmet.append(f'{name}: {evidence} ({EXPECTATIONS[name]})')

    def settle(self):
        if self.unmet:
            raise Failure('expectations not met:\n  ' + '\n  '.join(self.unmet))


def is_near(panel, icon, output):
    '''A panel beside the bar's icon: over it, narrower than half the output, by the bar (under
    one at the top, over one at the bottom).'''
    x, y, w, h = panel
    centre = icon[0] + icon[2] // 2
    off_bar = y - (icon[1] + icon[3]) if icon[1] < output['height'] // 2 else icon[1] - (y + h)
    return x - 48 <= centre <= x + w + 48 and w < output['width'] // 2 and -4 <= off_bar <= 48


def content_span(screen, rect):
    '''Where, as shares of the window's width, its pixels first and last differ from its
    background.'''
    width, _, pixels = screen
    x0, y0, w, h = rect
    at = lambda x, y: pixels[(y * width + x) * 3:(y * width + x) * 3 + 3]
    background = at(x0 + w - 8, y0 + h - 8)
    left, right = x0 + w - 8, x0
    for y in range(y0 + 40, y0 + h - 4, 3):
        for x in range(x0 + w - 8, right, -1):
            if at(x, y) != background:
                right = x
                break
        for x in range(x0 + 8, left):
            if at(x, y) != background:
                left = x
                break
    return (left - x0) / w, (right - x0) / w


def soon(probe, limit=5):
    '''Whether something that should happen, and may not yet, happens within a few seconds.'''
    try:
        return bool(wait_for('an expectation', probe, limit=limit))
    except Failure:
        return False


def wait_windows(session, what, probe):
    return wait_for(what, lambda: probe(session.windows()))


def see_near(session, expect, name, icon):
    '''Whether the open panel comes to stand by the icon (sway moves it a moment after it
    shows); the panel as last seen.'''
    seen = {}

    def near():
        shown = session.windows()
        seen['panel'] = shown[0] if shown else seen.get('panel')
        return shown and is_near(shown[0]['rect'], icon, session.output)

    met = soon(near)
    expect.see(name, met, f'panel at {seen["panel"]["rect"]}, icon at {icon}')
    return seen['panel']


def check_clicks(session, expect, panel, icon, top):
    '''Clicks with the test's pointer: on the open panel it stays open; on the bar away from the
    icon, where sway moves no focus, it closes, and only that click is kept from the bar.'''
    x, y, _, _ = panel['rect']
    on_panel = (x + session.output['x'] + 40, y + session.output['y'] + 45)  # its status line
    away = (session.output['x'] + 40, session.output['y'] + top + BAR_HEIGHT // 2)
    # What closes the panel comes a moment after it stands: the panel is clicked a while.
    stayed = True
    for _ in range(4):
        session.click_at(*on_panel)
        stayed = stayed and not soon(lambda: not session.windows(), limit=0.5)
    expect.see('a click on the panel leaves it open', stayed,
               f'clicked at {on_panel}: the panel {"stayed open" if stayed else "closed"}')
    if not stayed:
        session.click('ContextMenu')
        wait_windows(session, 'ContextMenu to show the panel again', lambda w: w)
    closed = soon(lambda: session.click_at(*away) and not session.windows())
    expect.see('a click on the bar away from the icon closes the panel', closed,
               f'clicked at {away}: the panel {"closed" if closed else "stayed open"}')
    if not closed:
        session.click('ContextMenu')
        wait_windows(session, 'a second ContextMenu to close the panel', lambda w: not w)
    # The icon, clicked: waybar sends Activate, which starts a session.
    session.click_at(session.output['x'] + icon[0] + icon[2] // 2,
                     session.output['y'] + icon[1] + icon[3] // 2)
    # Off the icon, whose tool tip would stand over the windows that open next, and still on the
    # bar by it, where the panels that open next expect the pointer.
    session.click_at(session.output['x'] + icon[0] - 20, away[1], verb='move')
    reached = soon(lambda: session.saved_session()[0])
    expect.see('the click after it reaches the bar', reached,
               f'a click on the icon {"started" if reached else "did not start"} a session')
    if session.saved_session()[0]:
        session.click('Activate')
        wait_for('Activate to stop the session the click started',
                 lambda: not session.saved_session()[0])


def check(session, expect):
    report = []
    baseline = session.grab()
    session.start_orvel()
    top = 0 if session.bar_at == 'top' else session.output['height'] - BAR_HEIGHT
    bar = (0, top, session.output['width'], BAR_HEIGHT)
    last = {}

    def appeared():
        if session.orvel.poll() is not None:
            if 'Could not find the Qt platform plugin' in session.orvel_log():
                raise Skip('Qt has no Wayland platform plugin (Debian\'s qt6-wayland)')
            raise Failure(f'Orvel ended with status {session.orvel.returncode}:\n'
                          + session.orvel_log())
        if 'tray item drawn' not in session.orvel_log() or session.item_id() != 'orvel':
            return None
        # waybar may still be drawing: take the box once two grabs in a row agree on it.
        box = Session.changed_box(baseline, session.grab(), bar)
        settled = box is not None and box == last.get('box')
        last['box'] = box
        return box if settled else None

    icon = wait_for('the icon to show in waybar\'s tray', appeared)
    # waybar's tray draws no label, so the time left is kept to the minute for it.
    wait_for('Orvel to know that waybar\'s tray draws no label',
             lambda: 'draws no label' in session.orvel_log())
    zoom = (max(0, icon[0] - 12), top, icon[2] + 24, BAR_HEIGHT)
    report.append(f'icon in waybar at {icon} on an output of {session.output}')
    report.append(check_legible(session, 'tray', icon, zoom))
    if session.windows():
        raise Failure(f'Orvel opened a window at start-up: {session.windows()}')

    def state_is(active):
        return lambda: session.saved_session()[0] == active

    session.click('Activate')
    wait_for('Activate to start a session', state_is(True))
    report.append(check_legible(session, 'tray-active', icon, zoom))
    session.click('Activate')
    wait_for('a second Activate to stop it', state_is(False))
    report.append(f'Activate{WIDGET_POINT} started and stopped a session')

    # The panel, from the icon's context click, with the pointer where the user clicked.
    session.swaymsg('seat', '-', 'cursor', 'set', str(icon[0] + icon[2] // 2),
                    str(icon[1] + icon[3] // 2))
    session.click('ContextMenu')
    wait_windows(session, 'ContextMenu to show the panel', lambda w: w)
    panel = see_near(session, expect, 'panel is near the icon', icon)
    session.grab('panel')
    report.append(f'ContextMenu{WIDGET_POINT}: panel "{panel["title"]}" '
                  f'{"floating" if panel["floating"] else "tiled"} at {panel["rect"]}')
    expect.see('panel floats', panel['floating'], f'sway holds it as '
               f'{"floating" if panel["floating"] else "tiled"}')
    expect.see('panel is smaller than the output',
               panel['rect'][2] < session.output['width'] and
               panel['rect'][3] < session.output['height'] - BAR_HEIGHT,
               f'{panel["rect"][2]}x{panel["rect"][3]} on {session.output["width"]}x'
               f'{session.output["height"]}')
    expect.see('panel has its own title', panel['title'] not in ('', 'Orvel'),
               f'titled "{panel["title"]}"')

    if session.pointer:
        check_clicks(session, expect, panel, icon, top)
        session.click('ContextMenu')
        wait_windows(session, 'ContextMenu to show the panel after the clicks', lambda w: w)
        # Orvel moves the panel by the icon, and covers the rest, a moment after sway shows it:
        # the focus leaves it once it stands there with the focus, as a user's next click finds
        # it, not while it is still being placed.
        see_near(session, expect, 'panel is near the icon', icon)
        wait_windows(session, 'the panel to have the focus', lambda w: w and w[0]['focused'])
        report.append('clicks: the panel stayed open on its own, closed on the bar, and the next '
                      'click reached the bar')

    # A click elsewhere: the focus goes to another workspace, and the panel closes.
    x_focus = session.x_focus()
    session.swaymsg('workspace', '2')
    try:
        wait_windows(session, 'the panel to close when the focus leaves it', lambda w: not w)
    except Failure as failure:
        # Which window had the X server's focus as the panel was left, where it had one.
        raise Failure(f'{failure} (the X focus was on {x_focus} then, is on '
                      f'{session.x_focus()} now; the panel: {session.windows()})') from failure
    session.swaymsg('workspace', '1')
    report.append('the panel closed when the focus went to another workspace')
    # A request just after the panel lost the focus is taken for the click that took it.
    time.sleep(0.6)
    session.click('ContextMenu')
    wait_windows(session, 'ContextMenu to show the panel again', lambda w: w)
    _, identity = session.saved_session()
    session.click('Activate')
    gone = soon(lambda: not session.windows())
    toggled = session.saved_session() != (False, identity)
    expect.see('Activate while the panel is open only closes it', gone and not toggled,
               f'the panel {"closed" if gone else "stayed open"}, the session '
               f'{"changed" if toggled else "did not change"}')
    if session.saved_session()[0]:
        session.click('Activate')
        wait_for('Activate to stop the session again', state_is(False))
    if session.windows():
        session.click('ContextMenu')
        wait_windows(session, 'a second ContextMenu to close the panel', lambda w: not w)
        report.append('a second ContextMenu closed the panel')

    # The item's menu, as waybar shows it.
    entries = session.menu()
    wanted = ['Open Orvel…', 'Turn Orvel On', 'Settings…', 'Help…', 'Quit Orvel']
    if [label for label in entries if label in wanted] != wanted:
        raise Failure(f'the item\'s menu reads {list(entries)}, not {wanted}')
    session.choose('Turn Orvel On')
    wait_for('"Turn Orvel On" to start a session', state_is(True))
    wait_for('the menu to offer "Turn Orvel Off"', lambda: 'Turn Orvel Off' in session.menu())
    session.choose('Turn Orvel Off')
    wait_for('"Turn Orvel Off" to stop the session', state_is(False))
    report.append('the menu\'s toggle started and stopped a session')

    session.choose('Open Orvel…')
    wait_windows(session, '"Open Orvel…" to show the panel', lambda w: w)
    panel = see_near(session, expect, 'panel from the menu is near the icon', icon)
    session.grab('menu-panel')
    if session.saved_session()[0]:
        raise Failure('"Open Orvel…" changed the session')
    report.append(f'"Open Orvel…": panel {"floating" if panel["floating"] else "tiled"} at '
                  f'{panel["rect"]}')
    session.click('ContextMenu')
    wait_windows(session, 'ContextMenu to close the panel', lambda w: not w)

    # Settings, and closing it as sway's users do (no close button: the kill binding).
    session.choose('Settings…')
    settings = wait_windows(session, '"Settings…" to open Settings', lambda w: w and w[0])
    # Two grabs in a row that agree: Settings has drawn.
    seen = {}

    def drawn():
        screen = session.grab()
        same = screen == seen.get('screen')
        seen['screen'] = screen
        return same

    wait_for('Settings to be drawn', drawn)
    session.grab('settings')
    left, right = content_span(seen['screen'], settings['rect'])
    centred = abs(left - (1 - right)) < 0.05
    report.append(f'Settings "{settings["title"]}" '
                  f'{"floating" if settings["floating"] else "tiled"} at {settings["rect"]}, '
                  f'its content from {left:.0%} to {right:.0%} of its width')
    expect.see('Settings floats, spans or centres in its window',
               settings['floating'] or right - left > 0.9 or centred,
               f'{"floating" if settings["floating"] else "tiled"} at {settings["rect"]}, '
               f'content from {left:.0%} to {right:.0%} of the width')
    session.swaymsg(f'[con_id={settings["id"]}]', 'kill')
    wait_windows(session, 'Settings to close', lambda w: not w)
    if session.orvel.poll() is not None:
        raise Failure(f'closing Settings ended Orvel (status {session.orvel.returncode})')
    report.append('swaymsg kill closed Settings; Orvel runs on')

    session.choose('Help…')
    help_window = wait_windows(session, '"Help…" to open Help', lambda w: w and w[0])
    wait_for('Help to be drawn', drawn)
    session.grab('help')
    report.append(f'Help "{help_window["title"]}" '
                  f'{"floating" if help_window["floating"] else "tiled"} at '
                  f'{help_window["rect"]}')
    session.swaymsg(f'[con_id={help_window["id"]}]', 'kill')
    wait_windows(session, 'Help to close', lambda w: not w)

    session.choose('Quit Orvel')
    try:
        session.orvel.wait(timeout=LIMIT)
    except subprocess.TimeoutExpired as expired:
        raise Failure(f'"Quit Orvel" left Orvel running after {LIMIT:.0f} s') from expired
    if session.orvel.returncode != 0:
        raise Failure(f'"Quit Orvel" ended Orvel with status {session.orvel.returncode}')
    wait_for('the item to leave waybar\'s tray', lambda: session.item() is None)
    report.append('"Quit Orvel" ended Orvel and its item left the tray')

    # The buttons swapped: waybar shows an item's menu on its right button, and sends
    # ContextMenu only for an item without one, so the item offers none while they are.
    session.restart_orvel(swapMenuButtons=True)
    wait_for('Orvel to come back to waybar\'s tray',
             lambda: session.orvel_log().count('tray item drawn') >= 2 and session.item())
    name, path = session.item()
    offered = session.run('gdbus', 'call', '--session', '--dest', name, '--object-path', path,
                          '--method', 'org.freedesktop.DBus.Properties.Get',
                          'org.kde.StatusNotifierItem', 'Menu').returncode == 0
    session.click('ContextMenu')
    toggled = soon(state_is(True))
    expect.see('a right click toggles with the buttons swapped',
               not offered and toggled and not session.windows(),
               f'the item {"offers" if offered else "offers no"} menu, ContextMenu '
               f'{"started" if toggled else "did not start"} a session')
    session.click('Activate')
    opened = soon(lambda: session.windows())
    expect.see('a left click opens the panel with the buttons swapped', opened,
               f'Activate {"opened" if opened else "did not open"} the panel')
    if opened:
        see_near(session, expect, 'panel is near the icon', icon)
        session.grab('swapped-panel')
    report.append('with the buttons swapped the item offered no menu; ContextMenu toggled and '
                  'Activate opened the panel')
    return report


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--orvel', required=True)
    parser.add_argument('--png', required=True)
    parser.add_argument('--bar', choices=['top', 'bottom'], default='top',
                        help='the edge of the output waybar stands along')
    parser.add_argument('--pointer', help='orvel_test_pointer, to click on the headless output '
                        '(without it, no click is tried)')
    parser.add_argument('--platform', choices=['wayland', 'xcb'], default='wayland',
                        help='Qt\'s platform for Orvel: a Wayland client, or an X client of '
                        'sway\'s XWayland')
    args = parser.parse_args()

    missing = [p for p in ('sway', 'swaymsg', 'waybar', 'grim', 'dbus-daemon', 'dbus-send',
                           'gdbus') + (('Xwayland',) if args.platform == 'xcb' else ())
               if shutil.which(p) is None]
    if missing:
        print(f'SKIP: needs {", ".join(missing)} (scripts/install-deps installs them)')
        return SKIP
    os.makedirs(args.png, exist_ok=True)
    expect = Expectations()

    try:
        prefix, owner = user_command()
    except Skip as skip:
        # CI is there to prove the Wayland desktop works: a machine that cannot run it fails.
        if os.environ.get('CI') == 'true':
            print(f'FAIL: sway: {skip}')
            return 1
        print(f'SKIP: sway: {skip}')
        return SKIP
    session = WaylandSession(args, prefix, owner)

    def checks():
        session.start_display()
        session.start_pointer()
        session.start_waybar()
        for line in check(session, expect):
            print(line)
        expect.settle()
        return [f'screenshots: {args.png}/{session.shots}-*.png']

    return outcome(session, ('sway' if args.platform == 'wayland' else 'sway (XWayland)') +
                   f', waybar at the {args.bar}', checks)

if __name__ == '__main__':
    sys.exit(main())
