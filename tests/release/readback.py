#!/usr/bin/env python3
"""Reads the release images back the way an emulator's guest sees them, with
the tools that wrote them (mtools, xorriso), and checks what is inside.

    readback.py readme README.TXT          README.TXT's rules, and that each
                                           rule catches a copy that breaks it
    readback.py floppy IMG EXE README.TXT  the floppy image
    readback.py cd ISO EXE README.TXT      the CD image

EXE is the exe the image must hold byte for byte, README.TXT the source the
image's README.TXT must equal. Time stamps must be the last commit's (UTC);
the commit is read from the git checkout this script lives in.
"""
import datetime
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

CAPTION = 'Korvan-USB'
BOX_TEXTS = [
    'You must exit Korvan Modem Utility from your taskbar before you uninstall Korvan USB Modem.',
    'Are you sure you want to completely uninstall Korvan USB modem ?',
    'Korvan USB modem is removed successfully !!',
]
MAX_COLUMNS = 78
NAME_8_3 = re.compile(r'^[A-Z0-9_]{1,8}\.[A-Z0-9_]{1,3}$')
FLOPPY_BYTES = 1474560
FLOPPY_SERIAL = '4B56-554E'
LABEL = 'KVUNINST'


class Failure(Exception):
    pass


def run(cmd, **kw):
    r = subprocess.run(cmd, capture_output=True, text=True, check=False,
                       env=dict(os.environ, TZ='UTC0', LC_ALL='C', MTOOLSRC='/dev/null'), **kw)
    if r.returncode != 0:
        raise Failure(f'{" ".join(cmd)} exited {r.returncode}: {(r.stderr or r.stdout)[-600:]}')
    return r.stdout + r.stderr


def commit_time():
    out = run(['git', '-C', ROOT, 'log', '-1', '--format=%ct'])
    return datetime.datetime.fromtimestamp(int(out.strip()), datetime.timezone.utc)


# ---------------------------------------------------------------- README.TXT

def readme_faults(name, data):
    """What breaks README.TXT's rules, as messages; empty when it keeps them."""
    faults = []
    if not NAME_8_3.match(name):
        faults.append(f'name "{name}" is not an 8.3 name in capitals')
    bad = sorted({b for b in data if not (0x20 <= b < 0x7f or b in (0x0d, 0x0a))})
    if bad:
        at = next(i for i, b in enumerate(data) if b in bad)
        faults.append(f'not plain ASCII: byte 0x{bad[0]:02x} at offset {at}')
    if not data.endswith(b'\r\n'):
        faults.append('the last line does not end with CR LF')
    lines = data.split(b'\r\n')
    for number, line in enumerate(lines, 1):
        if b'\n' in line or b'\r' in line:
            faults.append(f'line {number}: a line end that is not CR LF')
            break
    for number, line in enumerate(lines, 1):
        if len(line) > MAX_COLUMNS:
            faults.append(f'line {number}: {len(line)} columns, more than {MAX_COLUMNS}')
    text = data.decode('latin-1')
    # A quoted text is one of the program's own and byte-exact.
    quoted = re.findall(r'"([^"]*)"', text)
    for q in quoted:
        if q not in BOX_TEXTS + [CAPTION]:
            faults.append(f'quotes "{q[:40]}", which is not a box text or the caption')
    if CAPTION not in quoted:
        faults.append(f'does not name the boxes\' caption "{CAPTION}"')
    return faults


def check_readme(path, exe_data=None):
    with open(path, 'rb') as f:
        data = f.read()
    faults = readme_faults(os.path.basename(path), data)
    if faults:
        raise Failure(f'{path}: ' + '; '.join(faults))
    if exe_data is not None:
        for q in set(re.findall(r'"([^"]*)"', data.decode('ascii'))):
            if q.encode() + b'\0' not in exe_data:
                raise Failure(f'{path} quotes "{q}", which the exe does not show')
    return data


def readme_self_test(path):
    """Each rule rejects a copy of README.TXT that breaks only it."""
    with open(path, 'rb') as f:
        good = f.read()
    first = good.index(b'\r\n')
    cases = [
        ('readme.txt', good, 'not an 8.3 name'),
        ('READMEFILE.TXT', good, 'not an 8.3 name'),
        ('README.TXT', good.replace(b'\r\n', b'\n', 1), 'not CR LF'),
        ('README.TXT', good[:-2], 'does not end with CR LF'),
        ('README.TXT', good[:first] + b' ' * 79 + good[first:], 'more than 78'),
        ('README.TXT', good.replace(b' ', '\u00a0'.encode('utf-8'), 1), 'not plain ASCII'),
        ('README.TXT', good.replace(b' ', b'\t', 1), 'not plain ASCII'),
        ('README.TXT', good.replace(b'removed successfully !!', b'removed successfully!!'),
         'not a box text'),
        ('README.TXT', good.replace(b'"Korvan-USB"', b'Korvan-USB'), 'caption'),
    ]
    failed = 0
    for name, data, expected in cases:
        faults = readme_faults(name, data)
        if not any(expected in f for f in faults):
            print(f'FAIL: a README that breaks "{expected}" as {name} passed: {faults}')
            failed += 1
    if readme_faults('README.TXT', good):
        failed += 1
    return len(cases), failed


# ---------------------------------------------------------------- images

def same_bytes(what, got_path, want_path):
    with open(got_path, 'rb') as f:
        got = f.read()
    with open(want_path, 'rb') as f:
        want = f.read()
    if got != want:
        at = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
        raise Failure(f'{what} ({len(got)} bytes) differs from {want_path} ({len(want)} bytes) '
                      f'from offset {at}')
    return got


def check_floppy(img, exe, readme, work):
    size = os.path.getsize(img)
    if size != FLOPPY_BYTES:
        raise Failure(f'{img}: {size} bytes, a 1.44 MB floppy has {FLOPPY_BYTES}')
    with open(img, 'rb') as f:
        boot = f.read(512)
    if boot[0x36:0x3e] != b'FAT12   ':
        raise Failure(f'{img}: the boot sector says {boot[0x36:0x3e]!r}, not FAT12')
    info = run(['minfo', '-i', img, '::'])
    for field, want in (('small size', '2880'), ('sectors per track', '18'), ('heads', '2'),
                        ('media descriptor byte', '0xf0')):
        m = re.search(rf'{field}: (\S+)', info)
        if not m or m.group(1) != want:
            raise Failure(f'{img}: minfo shows {field} {m.group(1) if m else "(none)"}, '
                          f'expected {want} for a 1.44 MB floppy')
    listing = run(['mdir', '-i', img, '::'])
    m = re.search(r'Volume in drive : is (.*)', listing)
    if not m or m.group(1).strip() != LABEL:
        raise Failure(f'{img}: volume label {m.group(1).strip() if m else "(none)"!r}, '
                      f'expected {LABEL}')
    if f'Volume Serial Number is {FLOPPY_SERIAL}' not in listing:
        raise Failure(f'{img}: the volume serial number is not the fixed {FLOPPY_SERIAL}:\n{listing}')
    # mdir's lines: NAME EXT SIZE DATE TIME, and a long name after them if any.
    when = commit_time().strftime('%Y-%m-%d  %H:%M')
    entries = re.findall(r'^(\S+) +(\S+) +(\d+) (\S+) +(\S+) *(.*?) *$', listing, re.M)
    names = sorted(f'{n}.{e}' for n, e, *_ in entries)
    if names != ['KVUNINST.EXE', 'README.TXT']:
        raise Failure(f'{img}: holds {names}, expected KVUNINST.EXE and README.TXT only')
    for name, ext, _, date, time, long_name in entries:
        if long_name:
            raise Failure(f'{img}: {name}.{ext} has the long name "{long_name}"; '
                          'the floppy keeps plain 8.3 names')
        if f'{date}  {time}' != when:
            raise Failure(f'{img}: {name}.{ext} is dated {date} {time}, the last commit '
                          f'{" ".join(when.split())} UTC')
    out = os.path.join(work, 'floppy')
    os.makedirs(out)
    run(['mcopy', '-n', '-i', img, '::KVUNINST.EXE', '::README.TXT', out])
    exe_data = same_bytes(f'{img}: KVUNINST.EXE', os.path.join(out, 'KVUNINST.EXE'), exe)
    same_bytes(f'{img}: README.TXT', os.path.join(out, 'README.TXT'), readme)
    check_readme(os.path.join(out, 'README.TXT'), exe_data)
    print(f'{img}: FAT12, {FLOPPY_BYTES} bytes, label {LABEL}, serial {FLOPPY_SERIAL}, '
          f'KVUNINST.EXE and README.TXT dated {" ".join(when.split())} UTC, both as built')


def check_cd(iso, exe, readme, work):
    pvd = run(['xorriso', '-indev', iso, '-pvd_info'])
    m = re.search(r'^Volume Id\s*: (.*)$', pvd, re.M)
    if not m or m.group(1).strip() != LABEL:
        raise Failure(f'{iso}: volume id {m.group(1).strip() if m else "(none)"!r}, expected {LABEL}')
    stamp = commit_time().strftime('%Y%m%d%H%M%S') + '00'
    for field in ('Creation Time', 'Modif. Time'):
        m = re.search(rf'^{re.escape(field)}\s*: (\d+)', pvd, re.M)
        if not m or m.group(1) != stamp:
            raise Failure(f'{iso}: {field} {m.group(1) if m else "(none)"}, '
                          f'expected the last commit {stamp} (UTC)')

    def names(read_fs, mapping):
        out = run(['xorriso', '-read_fs', read_fs, '-ecma119_map', mapping, '-indev', iso,
                   '-find', '/', '-type', 'f'])
        return sorted(re.findall(r"^'/(.*)'$", out, re.M))

    # The plain ISO 9660 names exactly as recorded, version and all.
    level1 = names('ecma119', 'unmapped')
    if level1 != ['KVUNINST.EXE;1', 'README.TXT;1']:
        raise Failure(f'{iso}: ISO 9660 names {level1}, expected KVUNINST.EXE;1 and README.TXT;1')
    for n in level1:
        if not NAME_8_3.match(n.split(';')[0]):
            raise Failure(f'{iso}: "{n}" is not a level-1 (8.3) name')
    # Without Joliet xorriso would fall back to the ISO names, lower-cased here.
    joliet = names('norock', 'lowercase')
    if joliet != ['KVUNINST.EXE', 'README.TXT']:
        raise Failure(f'{iso}: Joliet names {joliet}, expected KVUNINST.EXE and README.TXT '
                      '(lower case means there is no Joliet tree)')

    for tree in ('ecma119', 'norock'):
        out = os.path.join(work, 'cd-' + tree)
        run(['xorriso', '-osirrox', 'on', '-read_fs', tree, '-indev', iso, '-extract', '/', out])
        exe_data = same_bytes(f'{iso} ({tree}): KVUNINST.EXE', os.path.join(out, 'KVUNINST.EXE'), exe)
        same_bytes(f'{iso} ({tree}): README.TXT', os.path.join(out, 'README.TXT'), readme)
        check_readme(os.path.join(out, 'README.TXT'), exe_data)
    print(f'{iso}: volume {LABEL}, dated {stamp[:14]} UTC, ISO 9660 names {", ".join(level1)}, '
          f'Joliet names {", ".join(joliet)}, both trees hold the files as built')


def main(argv):
    if len(argv) == 3 and argv[1] == 'readme':
        try:
            check_readme(argv[2])
        except Failure as e:
            print(f'FAIL: {e}')
            return 1
        cases, failed = readme_self_test(argv[2])
        print(f'{argv[2]}: ASCII, CR LF, at most {MAX_COLUMNS} columns, 8.3 name, '
              f'box texts as the program shows them')
        print(f'{cases + 1 - failed} passed, {failed} failed')
        return 1 if failed else 0
    if len(argv) == 5 and argv[1] in ('floppy', 'cd'):
        image, exe, readme = argv[2:]
        for f in (image, exe, readme):
            if not os.path.isfile(f):
                print(f'FAIL: {f}: no such file')
                return 1
        work = tempfile.mkdtemp(prefix='kvuninst-readback.')
        try:
            (check_floppy if argv[1] == 'floppy' else check_cd)(image, exe, readme, work)
        except Failure as e:
            print(f'FAIL: {e}')
            print(f'left for inspection: {work}')
            return 1
        shutil.rmtree(work)
        return 0
    print(__doc__.split('\n\n')[1], file=sys.stderr)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv))
