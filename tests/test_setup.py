"""scripts/setup on machines it cannot see: stand-ins for dpkg, apt-get,
locale and the rest, in front of a PATH that holds nothing else, keep what
it would install and make."""
import os
import shutil
import subprocess

import pytest

from conftest import ROOT

# Tools setup may take from the real machine.
REAL = ('bash', 'sed', 'grep', 'mkdir', 'tee', 'cat', 'env', 'dirname', 'rm', 'seq', 'touch')

STAND_INS = {
    # Answers as dpkg does: exit 1 for any package it has never heard of.
    'dpkg-query': r'''
declare -A have
while read -r line; do have[$line]=1; have[${line%%:*}:]=$line; done <"$STATE/installed" 2>/dev/null
status=0
for p in "$@"; do
    case $p in -*) continue ;; *:*) line=${have[$p]:+$p} ;; *) line=${have[$p:]:-} ;; esac
    if [ -n "$line" ]; then echo "$line install ok installed"
    else echo "dpkg-query: no packages found matching $p" >&2; status=1; fi
done
exit $status''',
    'apt-get': r'''
echo "$*" >>"$STATE/apt.log"
case $1 in
update) [ ! -f "$STATE/offline" ] || { echo "E: Failed to fetch" >&2; exit 100; } ;;
install)
    for p in "$@"; do
        case $p in -*|install) continue ;; esac
        if grep -qx "$p" "$STATE/no-candidate" 2>/dev/null; then
            echo "E: Package '$p' has no installation candidate" >&2; exit 100
        fi
    done
    for p in "$@"; do
        case $p in -*|install) continue ;; *:*) echo "$p" ;; *) echo "$p:amd64" ;; esac
    done | grep -vxf "$STATE/installs-nothing" >>"$STATE/installed" || true ;;
esac''',
    'dpkg': r'''
case $1 in
--print-foreign-architectures) cat "$STATE/foreign" 2>/dev/null || true ;;
--add-architecture) echo "$2" >>"$STATE/foreign" ;;
esac''',
    # Long enough that grep -q stops reading before the end.
    'locale': r'''
cat "$STATE/locales" 2>/dev/null
seq 20000 | sed 's/^/xx_XX.filler/'
''',
    'localedef': r'''
echo "$*" >>"$STATE/localedef.log"
[ ! -f "$STATE/no-localedef" ] || { echo "localedef: cannot open locale definition file" >&2; exit 4; }
echo ru_RU.utf8 >>"$STATE/locales"''',
    'id': 'cat "$STATE/uid"',
    # Installs axe-core where --prefix says, or fails as with no registry.
    'npm': r'''
echo "$*" >>"$STATE/npm.log"
[ ! -f "$STATE/no-registry" ] || { echo "npm ERR! network" >&2; exit 1; }
while [ $# -gt 0 ]; do [ "$1" = --prefix ] && prefix=$2; shift; done
mkdir -p "$prefix/node_modules/axe-core" && touch "$prefix/node_modules/axe-core/axe.min.js"''',
}

EVERYTHING = open(os.path.join(ROOT, 'scripts', 'setup'), encoding='utf-8').read()


class Machine:
    """A copy of scripts/setup, and a machine for it made of stand-ins."""

    def __init__(self, top):
        self.state, self.bin, self.home = top / 'state', top / 'bin', top / 'home'
        self.setup = top / 'repo' / 'scripts' / 'setup'
        self.axe = self.home / '.cache' / 'password-class-set' / 'npm' / 'node_modules' / 'axe-core'
        for folder in (self.state, self.bin, self.home, self.setup.parent):
            folder.mkdir(parents=True)
        shutil.copy(os.path.join(ROOT, 'scripts', 'setup'), self.setup)
        for tool in REAL:
            os.symlink(shutil.which(tool), self.bin / tool)
        for tool, script in STAND_INS.items():
            self.bin.joinpath(tool).write_text('#!/bin/bash\n' + script + '\n')
            self.bin.joinpath(tool).chmod(0o755)
        self.write('uid', '0')
        self.write('installs-nothing', 'none\n')

    def write(self, name, text):
        self.state.joinpath(name).write_text(text if text.endswith('\n') or not text else text + '\n')

    def read(self, name):
        path = self.state / name
        return path.read_text().splitlines() if path.exists() else []

    def has_everything(self):
        """Every package of setup's lists installed, and the locale made."""
        packages = [p for line in EVERYTHING.split('locales=(')[0].split('\n') if '=(' in line or line.startswith(' ')
                    for p in line.split('(')[-1].rstrip(')').split() if not p.startswith('#')]
        self.write('installed', ''.join(p + ('\n' if ':' in p else ':amd64\n') for p in packages))
        self.write('locales', 'C.utf8\nru_RU.utf8\n')
        self.axe.mkdir(parents=True)
        (self.axe / 'axe.min.js').touch()

    def clone(self, name):
        """A new clone of the project on the same machine: its setup."""
        setup = self.setup.parent.parent.parent / name / 'scripts' / 'setup'
        setup.parent.mkdir(parents=True)
        shutil.copy(self.setup, setup)
        return setup

    def run(self, setup=None):
        return subprocess.run([shutil.which('bash'), str(setup or self.setup)], capture_output=True, text=True,
                              env={'PATH': str(self.bin), 'STATE': str(self.state), 'HOME': str(self.home)},
                              stdin=subprocess.DEVNULL)


@pytest.fixture
def machine(tmp_path):
    return Machine(tmp_path)


def test_a_fresh_machine_gets_everything_then_is_left_alone(machine):
    first = machine.run()
    assert first.returncode == 0, first.stderr
    assert 'Installing: cmake make ninja-build' in first.stdout
    apt = machine.read('apt.log')
    assert apt[0] == 'update -qq'
    assert 'wine32:i386' in apt[1] and 'python3-segno' in apt[1] and 'chromium' in apt[-1]
    assert machine.read('foreign') == ['i386']
    assert machine.read('localedef.log') == ['-i ru_RU -f UTF-8 ru_RU.UTF-8']
    assert 'axe-core@4.14.1' in machine.read('npm.log')[0]

    again = machine.run()
    assert (again.returncode, again.stdout, again.stderr) == (0, '', '')
    assert machine.read('apt.log') == apt, 'apt asked again with everything there'
    clone = machine.run(machine.clone('another clone'))
    assert (clone.returncode, clone.stdout, clone.stderr) == (0, '', ''), 'npm is asked once a machine'
    assert len(machine.read('npm.log')) == 1


def test_a_few_purged_packages_are_put_back(machine):
    machine.has_everything()
    machine.write('installed', '\n'.join(p for p in machine.read('installed')
                                         if p.split(':')[0] not in ('zbar-tools', 'python3-segno', 'xdotool')))
    result = machine.run()
    assert result.returncode == 0, result.stderr
    assert result.stdout == 'Installing: xdotool python3-segno zbar-tools\n'
    assert machine.read('apt.log')[1].endswith('install -y -qq --no-install-recommends xdotool python3-segno zbar-tools')


def no_chromium(machine):
    machine.write('installed', '\n'.join(p for p in machine.read('installed') if not p.startswith('chromium')))
    machine.write('no-candidate', 'chromium\n')


def no_npm_registry(machine):
    shutil.rmtree(machine.axe)
    machine.write('no-registry', '')


@pytest.mark.parametrize('what, arrange, said, log', [
    ('no Chromium', no_chromium, 'No Chromium could be installed; the browser tests are skipped', 'apt.log'),
    ('no npm registry', no_npm_registry, "No axe-core could be installed; the pages' accessibility check is skipped",
     'npm.log'),
])
def test_what_cannot_be_had_is_said_once_and_not_asked_again(machine, what, arrange, said, log):
    machine.has_everything()
    arrange(machine)
    first = machine.run()
    assert first.returncode == 0, what
    assert said in first.stderr
    asked = machine.read(log)
    for _ in range(2):
        again = machine.run()
        assert (again.returncode, again.stdout, again.stderr) == (0, '', ''), what
    assert machine.read(log) == asked, what


def test_a_present_locale_is_not_made_again(machine):
    # locale -a | grep -q under pipefail: grep's early exit kills locale
    # with SIGPIPE, and the pipe fails although the locale is there.
    machine.has_everything()
    machine.write('locales', 'ru_RU.utf8\n')
    result = machine.run()
    assert (result.returncode, result.stderr) == (0, '')
    assert machine.read('localedef.log') == []


@pytest.mark.parametrize('what, arrange, said', [
    ('no network', lambda m: m.write('offline', ''), 'apt-get update failed: check the network'),
    ('no install candidate', lambda m: m.write('no-candidate', 'xdotool\n'), 'apt-get could not install: '),
    ('installed in name only', lambda m: m.write('installs-nothing', 'xvfb:amd64\n'),
     'still not installed after apt-get: xvfb'),
    ('not root and no sudo', lambda m: m.write('uid', '1000'), 'not root, and there is no sudo'),
    ('no locale made', lambda m: m.write('no-localedef', ''), 'could not make the locale ru_RU.UTF-8'),
])
def test_every_failure_says_what_failed_and_what_to_do(machine, what, arrange, said):
    arrange(machine)
    result = machine.run()
    assert result.returncode != 0, what
    lines = [line for line in result.stderr.splitlines() if line.startswith('setup: ')]
    assert lines and said in lines[-1], f'{what}: expected "{said}", got {result.stderr!r}'
