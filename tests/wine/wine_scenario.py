#!/usr/bin/env python3
"""One differential run: KVUNINST.EXE under Wine against kvuninst-sim on the
same system folder, answers, mode and start directory.

Both the call journal (Wine's relay log turned into the host model's format
by relay_journal.py) and the state left afterwards (registry keys and values,
files) must agree. Where Wine is known to get Windows 95/98 wrong, the case
names the line Wine shows instead (--wine-differs) or the key Wine leaves
(--wine-keeps); the run then fails if Wine stops doing so, so the exception
cannot outlive the reason for it.

Everything it starts (wineserver, Xvfb, the file holder) is stopped before
it returns, also on failure and on timeout.
"""
import argparse
import fcntl
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import relay_journal  # noqa: E402

RUN_TIMEOUT = 60      # seconds for KVUNINST.EXE itself
SERVER_TIMEOUT = 30   # seconds for wineserver to wind down and save
RELAY_FROM_EXCLUDE = ('ntdll;kernel32;kernelbase;user32;win32u;gdi32;advapi32;imm32;'
                      'uxtheme;comctl32;winex11.drv;combase;ole32;rpcrt4;sechost;msvcrt;'
                      'ucrtbase;shell32;shlwapi;setupapi;explorer;services;rpcss;'
                      'winedevice;plugplay;wineboot;svchost;conhost;regedit')


class Failure(Exception):
    pass


def log(msg):
    print(msg, flush=True)


# ---------------------------------------------------------------- prefixes

def wine_env(prefix, **extra):
    env = dict(os.environ)
    env.pop('DISPLAY', None)
    env.update(WINEPREFIX=prefix, WINEARCH='win32', WINEDEBUG='-all',
               WINEDLLOVERRIDES='mscoree,mshtml=')
    env.update(extra)
    return env


def server_wait(prefix):
    try:
        subprocess.run(['wineserver', '-w'], env=wine_env(prefix), timeout=SERVER_TIMEOUT,
                       check=False)
    except subprocess.TimeoutExpired:
        subprocess.run(['wineserver', '-k'], env=wine_env(prefix), check=False)
        raise Failure(f'{prefix}: wineserver still busy after {SERVER_TIMEOUT} s; killed it')


def ensure_pristine(pristine):
    """The prefix every run copies, made once (wineboot -i) under a lock so
    that parallel tests do not race to create it."""
    os.makedirs(os.path.dirname(pristine), exist_ok=True)
    with open(pristine + '.lock', 'w') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if os.path.exists(os.path.join(pristine, '.ready')):
            return
        shutil.rmtree(pristine, ignore_errors=True)
        log(f'creating the pristine Wine prefix {pristine} (once)')
        try:
            subprocess.run(['wineboot', '-i'], env=wine_env(pristine), timeout=300,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        except subprocess.TimeoutExpired:
            raise Failure(f'{pristine}: wineboot -i did not finish in 300 s')
        finally:
            server_wait(pristine)
        if not os.path.exists(os.path.join(pristine, 'system.reg')):
            raise Failure(f'{pristine}: wineboot -i left no system.reg')
        open(os.path.join(pristine, '.ready'), 'w').close()


def host_path(root, winpath):
    """The existing host path of a Windows path below `root` (a drive's
    folder), matching names without regard to case as Windows does."""
    here = root
    for part in [p for p in re.split(r'[\\/]', winpath) if p]:
        names = os.listdir(here) if os.path.isdir(here) else []
        match = next((n for n in names if n == part), None) or \
            next((n for n in names if n.lower() == part.lower()), None)
        if match is None:
            return None
        here = os.path.join(here, match)
    return here


def drive_of(winpath):
    m = re.match(r'^([a-zA-Z]):\\(.*)$', winpath)
    if not m:
        raise Failure(f"'{winpath}': expected an absolute path such as c:\\windows\\x")
    return m.group(1).lower(), m.group(2)


# ---------------------------------------------------------------- state

def parse_reg(path, wine_format, root=None):
    """Keys and values of a registry file: {key id: (shown path, {value id:
    data text})}. Ids are lower case (names compare without case); a
    REGEDIT4 file names its roots, Wine's files are relative to `root`."""
    keys = {}
    current = None
    pending = ''
    with open(path, encoding='latin-1', newline='') as f:
        text = f.read().replace('\r\n', '\n')
    for raw in text.split('\n'):
        line = pending + raw
        if line.endswith('\\') and current is not None and not line.startswith('['):
            pending = line[:-1].strip() if pending else line[:-1]
            continue
        pending = ''
        if line.startswith('['):
            m = re.match(r'^\[(.*)\](?: \d+)?$', line)
            if not m:
                raise Failure(f'{path}: cannot read key line "{line[:60]}"')
            name = m.group(1)
            if wine_format:
                name = root + '\\' + name.replace('\\\\', '\\')
            else:
                name = name.replace('HKEY_LOCAL_MACHINE', 'HKLM', 1) \
                           .replace('HKEY_CURRENT_USER', 'HKCU', 1)
            current = name.lower()
            keys.setdefault(current, (name, {}))
        elif current is not None and (line.startswith('"') or line.startswith('@')):
            m = re.match(r'^(@|"(?:[^"\\]|\\.)*")=(.*)$', line)
            if not m:
                raise Failure(f'{path}: cannot read value line "{line[:60]}"')
            vname = '' if m.group(1) == '@' else m.group(1)[1:-1].replace('\\\\', '\\')
            keys[current][1][vname.lower()] = m.group(2)
    # REGEDIT4 lists parents implicitly in the paths; make every ancestor a key.
    for kid in list(keys):
        parts = keys[kid][0].split('\\')
        for n in range(2, len(parts)):
            anc = '\\'.join(parts[:n])
            keys.setdefault(anc.lower(), (anc, {}))
    return keys


def wine_registry(prefix):
    state = parse_reg(os.path.join(prefix, 'system.reg'), True, 'HKLM')
    state.update(parse_reg(os.path.join(prefix, 'user.reg'), True, 'HKCU'))
    return state


def list_files(drives):
    """{'c:\\windows\\x' lower case: shown} for every file on the drives."""
    out = {}
    for letter, root in drives.items():
        for dirpath, dirnames, filenames in os.walk(root):
            rel = os.path.relpath(dirpath, root)
            for n in filenames:
                win = letter + ':\\' + ('' if rel == '.' else rel.replace('/', '\\') + '\\') + n
                out[win.lower()] = win
    return out


def changes(before, after, files_before, files_after, scope=None):
    """What a run did, as sets of lines. `scope` limits additions and changes
    to keys the fixture has (Wine keeps its own house meanwhile)."""
    removed_keys = {before[k][0] for k in before if k not in after}
    removed_values = set()
    changed = set()
    added = set()
    for k, (shown, values) in before.items():
        if k not in after:
            continue
        for v, data in values.items():
            if v not in after[k][1]:
                removed_values.add(f'{shown} "{v}"')
            elif after[k][1][v] != data and (scope is None or k in scope):
                changed.add(f'{shown} "{v}"')
    for k, (shown, values) in after.items():
        parent = k.rsplit('\\', 1)[0]
        if k not in before:
            if scope is None or parent in scope:
                added.add(f'key {shown}')
        elif scope is None or k in scope:
            for v in values:
                if v not in before[k][1]:
                    added.add(f'value {shown} "{v}"')
    removed_files = {files_before[f] for f in files_before if f not in files_after}
    return {'removed keys': removed_keys, 'removed values': removed_values,
            'changed values': changed, 'added': added, 'removed files': removed_files}


def lowered(s):
    return {x.lower(): x for x in s}


# ---------------------------------------------------------------- display

class Display:
    """A private Xvfb; -displayfd lets the server pick a free number."""

    def __init__(self):
        r, w = os.pipe()
        self.proc = subprocess.Popen(['Xvfb', '-displayfd', str(w), '-nolisten', 'tcp',
                                      '-screen', '0', '1024x768x24'], pass_fds=[w],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        number = b''
        deadline = time.time() + 15
        while not number.endswith(b'\n') and time.time() < deadline:
            chunk = os.read(r, 16)
            if not chunk:
                break
            number += chunk
        os.close(r)
        if not number.strip().isdigit():
            self.stop()
            raise Failure('Xvfb did not report a display number within 15 s')
        self.name = ':' + number.decode().strip()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class Answerer(threading.Thread):
    """Presses Return (OK) or Escape (Cancel) on each "Korvan-USB" box in
    turn, as a user would. Wine may give the next box the same X window, so
    a box counts as answered once the relay log shows its MessageBoxA
    returning, not when a window goes away."""

    KEYS = {'ok': 'Return', 'cancel': 'Escape'}

    def __init__(self, display, answers, relay, deadline):
        super().__init__(daemon=True)
        self.env = dict(os.environ, DISPLAY=display)
        self.answers = answers
        self.relay = relay
        self.deadline = deadline
        self.stopped = threading.Event()
        self.said = []

    def xdotool(self, *args):
        return subprocess.run(['xdotool', *args], env=self.env, capture_output=True,
                              text=True, timeout=10, check=False).stdout.split()

    def returned(self):
        try:
            with open(self.relay, encoding='latin-1') as f:
                return f.read().count(':Ret  user32.MessageBoxA() retval=')
        except OSError:
            return 0

    def run(self):
        for number, answer in enumerate(self.answers, 1):
            while self.returned() < number:
                if self.stopped.is_set() or time.time() > self.deadline:
                    return
                boxes = self.xdotool('search', '--onlyvisible', '--name', '^Korvan-USB$')
                if boxes:
                    # Only into the box itself, never into whatever has
                    # the focus meanwhile.
                    self.xdotool('windowfocus', '--sync', boxes[0])
                    if self.xdotool('getwindowfocus') == boxes[:1]:
                        self.xdotool('key', self.KEYS[answer])
                        self.said.append(f'{time.time():.2f} box {number}: {self.KEYS[answer]} '
                                         f'into window {boxes[0]}')
                        # Wine takes a moment to close the box; a second
                        # key too soon would answer the next one.
                        until = time.time() + 5
                        while self.returned() < number and time.time() < until:
                            time.sleep(0.1)
                        continue
                time.sleep(0.1)


# ---------------------------------------------------------------- the run

def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--exe', required=True)
    ap.add_argument('--sim', required=True)
    ap.add_argument('--holder', help='holdopen.exe, for --in-use')
    ap.add_argument('--work', required=True, help='scratch folder for this run')
    ap.add_argument('--pristine', required=True)
    ap.add_argument('--system', required=True, help='system folder: registry.reg, c/, d/')
    ap.add_argument('--answers', default='ok,ok,ok')
    ap.add_argument('--no-display', action='store_true')
    ap.add_argument('--nt', action='store_true')
    ap.add_argument('--cwd', help='start directory (default c:\\windows, a:\\ with --floppy)')
    ap.add_argument('--no-d', action='store_true', help='leave drive d: unmapped')
    ap.add_argument('--floppy', metavar='IMG',
                    help='drive a: holds this floppy image\'s files; the exe runs as A:\\KVUNINST.EXE')
    ap.add_argument('--dir-at', action='append', default=[],
                    help='replace this file by a folder of the same name')
    ap.add_argument('--read-only', action='append', default=[])
    ap.add_argument('--in-use', action='append', default=[])
    ap.add_argument('--wine-differs', nargs=2, action='append', default=[],
                    metavar=('HOST_LINE', 'WINE_LINE'))
    ap.add_argument('--wine-keeps', action='append', default=[], metavar='KEY')
    ap.add_argument('--wine-sorts', action='store_true',
                    help='Wine enumerates subkeys sorted where Windows 98 does not')
    ap.add_argument('--expect-boxes', type=int, help='how many boxes the run must show')
    ap.add_argument('--expect-kept', action='append', default=[], metavar='FILE',
                    help='a file that must survive the run on both sides')
    args = ap.parse_args()
    # CMake cannot pass an argument that ends in a backslash through a list.
    args.cwd = args.cwd or ('a:\\' if args.floppy else 'c:\\windows')

    started = time.time()
    stoppers = []
    try:
        ok = run(args, stoppers)
    except Failure as e:
        log(f'FAIL: {e}')
        ok = False
    finally:
        for stop in reversed(stoppers):
            try:
                stop()
            except Exception as e:  # keep stopping the rest
                log(f'while cleaning up: {e}')
    log(f'{"PASS" if ok else "FAIL"} in {time.time() - started:.1f} s')
    if ok:
        shutil.rmtree(args.work, ignore_errors=True)
    else:
        log(f'left for inspection: {args.work}')
    return 0 if ok else 1


def prepare_faults(args, drives):
    """Applies --dir-at and --read-only to one copy of the system."""
    for winpath in args.dir_at:
        letter, rest = drive_of(winpath)
        target = host_path(drives[letter], rest)
        if target is None or not os.path.isfile(target):
            raise Failure(f"--dir-at '{winpath}': no such file in {drives[letter]}")
        os.unlink(target)
        os.mkdir(target)
        with open(os.path.join(target, 'kept.txt'), 'w') as f:
            f.write('a folder where a file is expected\n')
    for winpath in args.read_only:
        letter, rest = drive_of(winpath)
        target = host_path(drives[letter], rest)
        if target is None or not os.path.isfile(target):
            raise Failure(f"--read-only '{winpath}': no such file in {drives[letter]}")
        os.chmod(target, 0o444)


def unpack_floppy(args, folder):
    """Drive a: as a floppy user has it: the files of --floppy's image,
    read out with mtools. Its KVUNINST.EXE must be the exe under test."""
    os.makedirs(folder)
    r = subprocess.run(['mcopy', '-s', '-n', '-m', '-i', args.floppy, '::*', folder],
                       env=dict(os.environ, MTOOLSRC='/dev/null'), capture_output=True,
                       text=True, check=False)
    if r.returncode != 0:
        raise Failure(f'mcopy -i {args.floppy}: exited {r.returncode}: {r.stderr[-500:]}')
    with open(os.path.join(folder, 'KVUNINST.EXE'), 'rb') as a, open(args.exe, 'rb') as b:
        if a.read() != b.read():
            raise Failure(f'{args.floppy}: its KVUNINST.EXE is not {args.exe}')
    return folder


def sim_side(args, nt=None, name='sim'):
    nt = args.nt if nt is None else nt
    system = os.path.join(args.work, name)
    shutil.copytree(args.system, system, symlinks=True)
    drives = {d: os.path.join(system, d) for d in 'cd' if os.path.isdir(os.path.join(system, d))}
    if args.no_d and 'd' in drives:
        shutil.rmtree(drives.pop('d'))
    if args.floppy:
        drives['a'] = unpack_floppy(args, os.path.join(args.work, name + '-a'))
    prepare_faults(args, drives)
    reg_before = parse_reg(os.path.join(system, 'registry.reg'), False)
    files_before = list_files(drives)
    cmd = [args.sim, '--trace', '--cwd', args.cwd]
    if args.floppy:
        cmd += ['--drive', 'a=' + drives['a']]
    if not args.no_display:
        cmd += ['--answers', args.answers]
    if nt:
        cmd.append('--nt')
    for p in args.in_use:
        cmd += ['--in-use', p]
    cmd.append(system)
    r = subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                       timeout=60, check=False)
    out = r.stdout.splitlines()
    end = next((i for i, l in enumerate(out) if l.startswith('current user: ')), None)
    if end is None:
        raise Failure(f'{" ".join(cmd)} exited {r.returncode} without its report:\n'
                      f'{r.stdout}{r.stderr}')
    journal = out[:end]
    reg_after = parse_reg(os.path.join(system, 'registry.reg'), False)
    state = changes(reg_before, reg_after, files_before, list_files(drives))
    return journal, state, r.returncode, reg_before


def wine_side(args, stoppers, scope):
    prefix = os.path.join(args.work, 'prefix')
    subprocess.run(['cp', '-a', args.pristine, prefix], check=True)
    stoppers.append(lambda: subprocess.run(['wineserver', '-k'], env=wine_env(prefix),
                                           capture_output=True, check=False))
    drive_c = os.path.join(prefix, 'drive_c')
    src_c = os.path.join(args.system, 'c')
    if os.path.isdir(src_c):
        subprocess.run(['cp', '-a', src_c + '/.', drive_c], check=True)
    dosdev_d = os.path.join(prefix, 'dosdevices', 'd:')
    if os.path.lexists(dosdev_d):
        os.unlink(dosdev_d)
    drives = {'c': drive_c}
    if args.floppy:
        dosdev_a = os.path.join(prefix, 'dosdevices', 'a:')
        if os.path.lexists(dosdev_a):
            os.unlink(dosdev_a)
        drives['a'] = unpack_floppy(args, os.path.join(args.work, 'drive_a'))
        os.symlink(drives['a'], dosdev_a)
    src_d = os.path.join(args.system, 'd')
    if not args.no_d and os.path.isdir(src_d):
        drive_d = os.path.join(args.work, 'drive_d')
        shutil.copytree(src_d, drive_d, symlinks=True)
        os.symlink(drive_d, dosdev_d)
        drives['d'] = drive_d
    prepare_faults(args, drives)

    settings = os.path.join(args.work, 'settings.reg')
    with open(settings, 'w', newline='') as f:
        f.write('REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Debug]\r\n'
                f'"RelayFromExclude"="{RELAY_FROM_EXCLUDE}"\r\n\r\n')
        if not args.nt:
            f.write('[HKEY_CURRENT_USER\\Software\\Wine]\r\n"Version"="win98"\r\n\r\n')
    for reg in (os.path.join(args.system, 'registry.reg'), settings):
        r = subprocess.run(['wine', 'regedit', '/s', reg], env=wine_env(prefix),
                           capture_output=True, text=True, timeout=60, check=False)
        if r.returncode != 0:
            raise Failure(f'wine regedit /s {reg} exited {r.returncode}: {r.stderr[-500:]}')
    server_wait(prefix)
    reg_before = wine_registry(prefix)
    files_before = list_files(drives)

    letter, rest = drive_of(args.cwd)
    cwd = host_path(drives.get(letter, '/nonexistent'), rest)
    if cwd is None or not os.path.isdir(cwd):
        raise Failure(f"--cwd '{args.cwd}': no such folder in the prefix")

    extra = {}
    display = None
    if not args.no_display:
        display = Display()
        stoppers.append(display.stop)
        extra['DISPLAY'] = display.name

    if not args.holder:
        raise Failure('--holder holdopen.exe is needed')
    # The first holder (without a file) only keeps the session up.
    for winpath in [None] + args.in_use:
        holder = subprocess.Popen(['wine', args.holder] + ([winpath] if winpath else []),
                                  env=wine_env(prefix, **extra), stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        def release(h=holder):
            if h.poll() is None:
                h.stdin.close()
                try:
                    h.wait(10)
                except subprocess.TimeoutExpired:
                    h.kill()
                    h.wait()
        stoppers.append(release)
        said = holder.stdout.readline().strip()
        if said != 'held':
            holder.wait(10)
            raise Failure(f"holdopen.exe {winpath or ''} said '{said}' instead of 'held': "
                          f"{holder.stderr.read()[-500:]}")

    relay = os.path.join(args.work, 'relay.log')
    answerer = None
    deadline = time.time() + RUN_TIMEOUT
    if display:
        answerer = Answerer(display.name, args.answers.split(','), relay, deadline)
        answerer.start()
        stoppers.append(answerer.stopped.set)
    with open(relay, 'w') as err:
        try:
            started_as = 'A:\\KVUNINST.EXE' if args.floppy else os.path.abspath(args.exe)
            r = subprocess.run(['wine', started_as], cwd=cwd,
                               env=wine_env(prefix, WINEDEBUG='+relay,+reg', **extra),
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=err, timeout=RUN_TIMEOUT, check=False)
        except subprocess.TimeoutExpired:
            raise Failure(f'KVUNINST.EXE still running after {RUN_TIMEOUT} s '
                          f'(a box nobody answered?); relay log {relay}')
    for stop in reversed(stoppers[1:]):
        stop()
    del stoppers[1:]
    if answerer:
        answerer.join(15)
        with open(os.path.join(args.work, 'answers.log'), 'w') as f:
            f.write(''.join(line + '\n' for line in answerer.said))
    server_wait(prefix)
    journal = relay_journal.journal(relay, args.exe)
    state = changes(reg_before, wine_registry(prefix), files_before, list_files(drives), scope)
    return journal, state, r.returncode


def run(args, stoppers):
    for tool in ('wine', 'wineserver') + (() if args.no_display else ('Xvfb', 'xdotool')):
        if shutil.which(tool) is None:
            raise Failure(f'{tool} not found; scripts/deps installs it')
    for f in (args.exe, args.sim):
        if not os.path.isfile(f):
            raise Failure(f'{f}: not built (cmake --build --preset win32 / host)')
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    ensure_pristine(args.pristine)

    sim_journal, sim_state, sim_rc, fixture = sim_side(args)
    if args.wine_sorts:
        # Wine's registry keeps subkeys sorted in every mode; Windows 95/98
        # lists them as they were created. On a fixture whose entries have
        # no subkeys, Wine as 98 then acts as the host model does as NT.
        if args.nt:
            raise Failure('--wine-sorts is for the Windows 98 mode')
        sorted_journal, sorted_state, _, _ = sim_side(args, nt=True, name='sim-sorted')
        if sorted_journal == sim_journal:
            raise Failure('--wine-sorts: the host model enumerates this system as if sorted; '
                          'the case no longer shows the difference')
        log('known Wine deviation: Wine as 98 enumerates subkeys sorted; expecting the host '
            'model\'s sorted run')
        sim_journal, sim_state = sorted_journal, sorted_state
    wine_journal, wine_state, wine_rc = wine_side(args, stoppers, set(fixture))

    # What Wine is known to do instead, on the host model's side.
    expected = list(sim_journal)
    for host_line, wine_line in args.wine_differs:
        if host_line not in expected:
            raise Failure(f'--wine-differs: the host model never journals "{host_line}"')
        expected[expected.index(host_line)] = wine_line
    kept = {k.lower() for k in args.wine_keeps}
    for k in kept:
        if k not in {x.lower() for x in sim_state['removed keys']}:
            raise Failure(f'--wine-keeps: the host model does not remove {k}')
    sim_state['removed keys'] = {x for x in sim_state['removed keys'] if x.lower() not in kept}
    sim_state['removed values'] = {x for x in sim_state['removed values']
                                   if x.lower().rsplit(' "', 1)[0] not in kept}

    ok = True
    with open(os.path.join(args.work, 'host.journal'), 'w') as f:
        f.write('\n'.join(sim_journal) + '\n')
    with open(os.path.join(args.work, 'wine.journal'), 'w') as f:
        f.write('\n'.join(wine_journal) + '\n')
    for i in range(max(len(expected), len(wine_journal))):
        a = expected[i] if i < len(expected) else '(no more calls)'
        b = wine_journal[i] if i < len(wine_journal) else '(no more calls)'
        if a != b:
            log(f'trace differs at call {i + 1} of {len(expected)} (host) / '
                f'{len(wine_journal)} (Wine):\n  host model: {a}\n  Wine:       {b}')
            ok = False
            break
    else:
        log(f'trace: {len(wine_journal)} calls, the same on Wine and the host model')

    for what in sim_state:
        a, b = lowered(sim_state[what]), lowered(wine_state[what])
        only_host = sorted(a[k] for k in a if k not in b)
        only_wine = sorted(b[k] for k in b if k not in a)
        if only_host or only_wine:
            ok = False
            log(f'state differs in {what}:')
            for x in only_host:
                log(f'  host model only: {x}')
            for x in only_wine:
                log(f'  Wine only:       {x}')
    summary = ', '.join(f'{len(v)} {k}' for k, v in wine_state.items())
    log(f'state after the run on Wine: {summary}')
    if sim_rc != 0 or wine_rc != 0:
        log(f'exit code: host model {sim_rc}, Wine {wine_rc} (expected 0)')
        ok = False
    shown = sum(1 for l in wine_journal if l.startswith('MessageBoxA('))
    log(f'boxes shown: {shown}; exit code {wine_rc}')
    if args.expect_boxes is not None and shown != args.expect_boxes:
        log(f'expected {args.expect_boxes} boxes, Wine showed {shown}')
        ok = False
    for f in args.expect_kept:
        for side, state in (('host model', sim_state), ('Wine', wine_state)):
            if f.lower() in lowered(state['removed files']):
                log(f'{f} should have stayed but the {side} removed it')
                ok = False
    for host_line, wine_line in args.wine_differs:
        log(f'known Wine deviation: host model "{host_line}", Wine "{wine_line}"')
    for k in args.wine_keeps:
        log(f'known Wine deviation: Wine keeps {k}')
    return ok


if __name__ == '__main__':
    sys.exit(main())
