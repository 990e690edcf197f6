#!/usr/bin/env python3
"""Turns a Wine relay log (WINEDEBUG=+relay,+reg) of KVUNINST.EXE into the
host model's journal, one line per platform call the program made.

Only calls from the thread that showed the first "Korvan-USB" box and whose
return address lies inside the image count: Wine's own processes (services,
explorer) run code at the same addresses, and the system DLLs call each
other. Handles are named the way the host model names them: by the path they
were opened for. The length handed to RegQueryValueExA is a pointer in the
relay line; its value going in comes from the +reg channel's trace.

    relay_journal.py RELAY_LOG KVUNINST.EXE    prints the journal
"""
import re
import struct
import sys

CALL = re.compile(r'^([0-9a-f]{4}):Call ([\w.]+)\.(\w+)\((.*)\) ret=([0-9a-f]{8})$')
RET = re.compile(r'^([0-9a-f]{4}):Ret  ([\w.]+)\.(\w+)\(\) retval=([0-9a-f]{8}) ret=([0-9a-f]{8})$')
TRACE = re.compile(r'^([0-9a-f]{4}):trace:reg:(\w+) (.*)$')

# What the start-up code calls around WinMain; not platform calls of the
# uninstaller, so the journal leaves them out.
STARTUP = {'GetCommandLineA', 'ExitProcess'}
PLATFORM = {'MessageBoxA', 'DeleteFileA', 'RegOpenKeyA', 'RegEnumKeyA',
            'RegQueryValueExA', 'RegDeleteKeyA', 'RegDeleteValueA', 'RegCloseKey'}
ROOTS = {0x80000001: 'HKCU', 0x80000002: 'HKLM'}


class RelayError(Exception):
    pass


def image_range(exe_path):
    """The addresses KVUNINST.EXE occupies once loaded (it has no
    relocations, so it always loads at its preferred base)."""
    with open(exe_path, 'rb') as f:
        head = f.read(4096)
    if head[:2] != b'MZ':
        raise RelayError(f'{exe_path}: not an MZ executable')
    pe = struct.unpack_from('<I', head, 0x3c)[0]
    if head[pe:pe + 4] != b'PE\0\0':
        raise RelayError(f'{exe_path}: no PE header at 0x{pe:x}')
    opt = pe + 24
    base = struct.unpack_from('<I', head, opt + 28)[0]
    size = struct.unpack_from('<I', head, opt + 56)[0]
    return base, base + size


def split_args(text, where):
    """Relay arguments: 8-digit hex values, a string one followed by its
    text as debugstr shows it ("..." or L"...")."""
    args = []
    i = 0
    while i < len(text):
        m = re.match(r'[0-9a-f]{8}', text[i:])
        if not m:
            raise RelayError(f'{where}: cannot read argument at "{text[i:i + 20]}"')
        value = int(m.group(0), 16)
        i += 8
        string = None
        if text.startswith(' "', i) or text.startswith(' L"', i):
            i = text.index('"', i) + 1
            start = i
            while i < len(text) and text[i] != '"':
                i += 2 if text[i] == '\\' else 1
            if i >= len(text):
                raise RelayError(f'{where}: unterminated string argument')
            string = unescape(text[start:i], where)
            i += 1
        args.append((value, string))
        if i < len(text):
            if text[i] != ',':
                raise RelayError(f'{where}: expected "," at "{text[i:i + 20]}"')
            i += 1
    return args


def unescape(text, where):
    """debugstr_a's escapes back into the bytes the program passed."""
    out = bytearray()
    i = 0
    simple = {'\\': 0x5c, '"': 0x22, 'n': 0x0a, 'r': 0x0d, 't': 0x09, "'": 0x27}
    while i < len(text):
        c = text[i]
        if c != '\\':
            out += c.encode('latin-1')
            i += 1
            continue
        e = text[i + 1:i + 2]
        if e in simple:
            out.append(simple[e])
            i += 2
        elif e == 'x':
            out.append(int(text[i + 2:i + 4], 16))
            i += 4
        elif e.isdigit():  # octal, as older debugstr wrote it
            m = re.match(r'[0-7]{1,3}', text[i + 1:])
            out.append(int(m.group(0), 8))
            i += 1 + len(m.group(0))
        else:
            raise RelayError(f'{where}: unknown escape "\\{e}" in a string argument')
    return bytes(out)


def quote(data):
    """A string argument as the journal shows it."""
    if data is None:
        return 'NULL'
    out = '"'
    for b in data:
        if b in (0x22, 0x5c):
            out += '\\' + chr(b)
        elif b < 0x20 or b > 0x7e:
            out += '\\x%02X' % b
        else:
            out += chr(b)
    return out + '"'


def signed(value):
    return value - (1 << 32) if value & 0x80000000 else value


class Journal:
    def __init__(self, image):
        self.lo, self.hi = image
        self.thread = None
        self.pending = None  # (function, args, reg traces seen meanwhile)
        self.names = {}      # handle value -> path shown
        self.lines = []

    def inside(self, address):
        return self.lo <= address < self.hi

    def show(self, handle):
        if handle == 0:
            return 'NULL'
        if handle in ROOTS:
            return ROOTS[handle]
        if handle in self.names:
            return self.names[handle]
        return '0x%X' % handle

    def feed(self, line, number):
        where = f'relay line {number}'
        m = TRACE.match(line)
        if m:
            if self.pending and m.group(1) == self.thread:
                self.pending[2].append((m.group(2), m.group(3)))
            return
        m = CALL.match(line)
        if m:
            tid, _, func, args, ret = m.groups()
            if not self.inside(int(ret, 16)):
                return
            if self.thread is None:
                if func != 'MessageBoxA' or b'Korvan-USB' not in line.encode('latin-1'):
                    return
                self.thread = tid
            if tid != self.thread:
                return
            if self.pending:
                raise RelayError(f'{where}: {func} called before {self.pending[0]} returned')
            if func in STARTUP:
                return
            self.pending = (func, split_args(args, where), [], where)
            return
        m = RET.match(line)
        if m:
            tid, _, func, retval, ret = m.groups()
            if tid != self.thread or not self.inside(int(ret, 16)) or func in STARTUP:
                return
            if not self.pending or self.pending[0] != func:
                raise RelayError(f'{where}: return from {func} without its call')
            self.lines.append(self.render(*self.pending, int(retval, 16)))
            self.pending = None

    def render(self, func, args, traces, where, retval):
        def need(n):
            if len(args) != n:
                raise RelayError(f'{where}: {func} with {len(args)} arguments, expected {n}')
        def text(i):
            value, string = args[i]
            return 'NULL' if value == 0 else quote(string if string is not None else b'')
        def ptr(i, name):
            return 'NULL' if args[i][0] == 0 else name
        result = signed(retval)
        if func == 'MessageBoxA':
            need(4)
            owner = 'NULL' if args[0][0] == 0 else '0x%X' % args[0][0]
            call = f'{func}({owner}, {text(1)}, {text(2)}, 0x{args[3][0]:X})'
        elif func == 'DeleteFileA':
            need(1)
            call = f'{func}({text(0)})'
        elif func == 'RegOpenKeyA':
            need(3)
            parent = self.show(args[0][0])
            call = f'{func}({parent}, {text(1)}, {ptr(2, "out")})'
            sub = args[1][1] if args[1][0] != 0 else None
            if result == 0 and sub:
                # The key's own open is the last one; opening a root's real
                # key on first use comes before it.
                opened = [t for f, t in traces if f in ('NtOpenKeyEx', 'NtOpenKey')
                          and t.startswith('<- ')]
                if not opened:
                    raise RelayError(f'{where}: RegOpenKeyA succeeded but the +reg '
                                     f'trace shows no handle (run with WINEDEBUG=+relay,+reg)')
                handle = int(opened[-1][3:], 16)
                self.names[handle] = parent + '\\' + sub.decode('latin-1')
        elif func == 'RegEnumKeyA':
            need(4)
            call = (f'{func}({self.show(args[0][0])}, {args[1][0]}, {ptr(2, "buf")}, '
                    f'{args[3][0]})')
        elif func == 'RegQueryValueExA':
            need(6)
            length = 'NULL'
            if args[5][0] != 0:
                seen = [t for f, t in traces if f == 'RegQueryValueExA']
                m = re.search(r'=(-?\d+)\)$', seen[0]) if seen else None
                if not m:
                    raise RelayError(f'{where}: no +reg trace of RegQueryValueExA gives the '
                                     f'length going in (run with WINEDEBUG=+relay,+reg)')
                length = '&' + m.group(1)
            call = (f'{func}({self.show(args[0][0])}, {text(1)}, {ptr(2, "ptr")}, '
                    f'{ptr(3, "out")}, {ptr(4, "buf")}, {length})')
        elif func in ('RegDeleteKeyA', 'RegDeleteValueA'):
            need(2)
            call = f'{func}({self.show(args[0][0])}, {text(1)})'
        elif func == 'RegCloseKey':
            need(1)
            call = f'{func}({self.show(args[0][0])})'
        else:
            # Anything else the program calls is news: show it so the
            # comparison with the host model fails on it.
            call = f'UNEXPECTED {func}(' + ', '.join('%08x' % a[0] for a in args) + ')'
        return f'{call} = {result}'


def journal(relay_path, exe_path):
    j = Journal(image_range(exe_path))
    with open(relay_path, encoding='latin-1') as f:
        for number, line in enumerate(f, 1):
            j.feed(line.rstrip('\n'), number)
    if j.thread is None:
        raise RelayError(f'{relay_path}: no "Korvan-USB" MessageBoxA call from '
                         f'{exe_path} (was it run with WINEDEBUG=+relay?)')
    if j.pending and j.pending[0] != 'MessageBoxA':
        raise RelayError(f'{relay_path}: {j.pending[0]} ({j.pending[3]}) never returned')
    if j.pending:
        j.lines.append(j.render(*j.pending[:4], 0).rsplit(' = ', 1)[0] + ' = (never returned)')
    return j.lines


def main(argv):
    if len(argv) != 3:
        print('usage: relay_journal.py RELAY_LOG KVUNINST.EXE', file=sys.stderr)
        return 2
    try:
        for line in journal(argv[1], argv[2]):
            print(line)
    except (RelayError, OSError) as e:
        print(f'relay_journal: {e}', file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
