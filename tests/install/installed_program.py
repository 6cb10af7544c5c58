#!/usr/bin/env python3
'''Installs the build into a temporary prefix and runs the installed Orvel from there: its
--version, and a start on the offscreen platform past the agreement (an assent record written
beforehand) until its panel opens without a tray. Every resource must be found where it was
installed: no log line of a missing file or drawing, the texts in an installed language. The
application icon must be in the theme at every size, and the desktop entry and the AppStream
metadata are validated where the validators are installed.'''

import argparse
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ElementTree

APP_ID = 'org.orvel.Orvel'


class Failure(Exception):
    pass


def wait_for(what, condition, limit=60):
    deadline = time.monotonic() + limit
    while True:
        if condition():
            return
        if time.monotonic() > deadline:
            raise Failure(f'{what} did not happen within {limit} s')
        time.sleep(0.05)


def run(*command, **options):
    return subprocess.run(command, capture_output=True, text=True, check=False, timeout=120,
                          **options)


def install(build, prefix):
    result = run('cmake', '--install', build, '--prefix', prefix)
    if result.returncode != 0:
        raise Failure(f'cmake --install failed:\n{result.stdout}{result.stderr}')


def check_version(prefix, version):
    result = run(os.path.join(prefix, 'bin', 'Orvel'), '--version', env={'PATH': '/usr/bin:/bin'})
    if result.returncode != 0 or not result.stdout.startswith(f'Orvel {version} '):
        raise Failure(f'the installed Orvel --version printed {result.stdout!r} '
                      f'(exit {result.returncode}), not version {version}')
    metainfo = os.path.join(prefix, 'share', 'metainfo', f'{APP_ID}.metainfo.xml')
    releases = [r.get('version') for r in ElementTree.parse(metainfo).iter('release')]
    if not releases or releases[0] != version:
        raise Failure(f'the metadata\'s newest release is {releases[:1]}, the program is {version}')


def check_icons(prefix):
    '''The icon the desktop entry names, in the hicolor theme as a drawing and at each size.'''
    hicolor = os.path.join(prefix, 'share', 'icons', 'hicolor')
    if not os.path.isfile(os.path.join(hicolor, 'scalable', 'apps', f'{APP_ID}.svg')):
        raise Failure('no scalable application icon')
    for size in (48, 64, 128, 256):
        path = os.path.join(hicolor, f'{size}x{size}', 'apps', f'{APP_ID}.png')
        try:
            with open(path, 'rb') as png:
                header = png.read(24)
        except OSError as error:
            raise Failure(f'no {size} px application icon: {error}') from error
        width, height = struct.unpack('>II', header[16:24])
        if header[:8] != b'\x89PNG\r\n\x1a\n' or (width, height) != (size, size):
            raise Failure(f'{path} is not a {size}×{size} PNG ({width}×{height})')


def installed_language(prefix):
    '''A language whose catalogue is installed, if any.'''
    locale = os.path.join(prefix, 'share', 'locale')
    codes = sorted(code for code in (os.listdir(locale) if os.path.isdir(locale) else [])
                   if os.path.isfile(os.path.join(locale, code, 'LC_MESSAGES', 'orvel.mo')))
    return codes[0] if codes else None


def check_start(prefix, home):
    data = os.path.join(home, 'data')
    os.makedirs(os.path.join(data, 'Orvel', 'simulation'))
    with open(os.path.join(data, 'Orvel', 'simulation', 'eula-assent.json'), 'w',
              encoding='utf-8') as out:
        out.write('{"version": "1.0-draft", "sha256": "", "timestamp": 0, "appVersion": "test",'
                  ' "build": "0", "scrolledToEnd": true}')
    language = installed_language(prefix)
    # Nothing of the host's: no display, no session bus, folders of its own.
    env = {'PATH': '/usr/bin:/bin', 'HOME': home, 'XDG_DATA_HOME': data,
           'XDG_CONFIG_HOME': os.path.join(home, 'config'),
           'XDG_CACHE_HOME': os.path.join(home, 'cache'), 'QT_QPA_PLATFORM': 'offscreen'}
    if language:
        env['LANGUAGE'] = language
    log_path = os.path.join(home, 'orvel.log')
    with open(log_path, 'w', encoding='utf-8') as log:
        orvel = subprocess.Popen([os.path.join(prefix, 'bin', 'Orvel'), '--simulate'], env=env,
                                 stdout=log, stderr=subprocess.STDOUT)

    def read_log():
        with open(log_path, encoding='utf-8', errors='replace') as log:
            return log.read()
    try:
        # Without a tray the panel opens as a window, drawn with its symbols.
        wait_for('the panel opening without a tray', lambda: (
            'No tray shows' in read_log() or orvel.poll() is not None))
        if orvel.poll() is not None:
            raise Failure(f'Orvel ended (exit {orvel.returncode}) before its panel opened')
        orvel.send_signal(signal.SIGTERM)
        orvel.wait(timeout=30)
    finally:
        if orvel.poll() is None:
            orvel.kill()
            orvel.wait()
    log = read_log()
    print(log)
    missing = [line for line in log.splitlines()
               if re.search(r'\berror:|No such file|Cannot open|not found|missing', line)]
    if missing:
        raise Failure('the installed program missed files:\n' + '\n'.join(missing))
    if language and f'texts in {language}' not in log:
        raise Failure(f'the installed {language} catalogue was not read')


def validate(prefix):
    desktop = os.path.join(prefix, 'share', 'applications', f'{APP_ID}.desktop')
    # Every language installed also describes Orvel in the application menu.
    with open(desktop, encoding='utf-8') as entry:
        lines = entry.read().splitlines()
    for code in sorted(os.listdir(os.path.join(prefix, 'share', 'locale'))):
        if not any(line.startswith(f'Comment[{code}]=') for line in lines):
            raise Failure(f'the desktop entry has no Comment[{code}]')
    metainfo = os.path.join(prefix, 'share', 'metainfo', f'{APP_ID}.metainfo.xml')
    for tool, command in (('desktop-file-validate', ['desktop-file-validate', desktop]),
                          ('appstreamcli', ['appstreamcli', 'validate', '--no-net', '--explain',
                                            metainfo])):
        if not shutil.which(tool):
            print(f'{tool} is not installed: not validated')
            continue
        result = run(*command)
        if result.returncode != 0 or (tool == 'desktop-file-validate' and result.stdout.strip()):
            raise Failure(f'{" ".join(command)} failed:\n{result.stdout}{result.stderr}')


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--build', required=True)
    parser.add_argument('--version', required=True)
    args = parser.parse_args()
    root = tempfile.mkdtemp(prefix='orvel-install-')
    try:
        prefix = os.path.join(root, 'prefix')
        install(args.build, prefix)
        check_version(prefix, args.version)
        validate(prefix)
        check_icons(prefix)
        check_start(prefix, os.path.join(root, 'home'))
    except (Failure, subprocess.TimeoutExpired) as failure:
        print(f'FAILED: {failure}', file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(root, ignore_errors=True)
    print('the installed Orvel found everything it reads')
    return 0


if __name__ == '__main__':
    sys.exit(main())
