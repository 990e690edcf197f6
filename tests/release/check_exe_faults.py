#!/usr/bin/env python3
"""scripts/check-exe against copies of KVUNINST.EXE with one loader rule
broken each: it must pass the real exe and reject every copy, naming the rule.

    check_exe_faults.py CHECK_EXE KVUNINST.EXE OBJDUMP
"""
import os
import struct
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True


class Pe:
    """Offsets of the fields the faults touch."""

    def __init__(self, data):
        self.data = bytearray(data)
        pe = struct.unpack_from('<I', data, 0x3c)[0]
        if data[pe:pe + 4] != b'PE\0\0':
            raise SystemExit(f'no PE header at 0x{pe:x}')
        self.sections_count = struct.unpack_from('<H', data, pe + 6)[0]
        opt_size = struct.unpack_from('<H', data, pe + 20)[0]
        self.opt = pe + 24
        self.directories = self.opt + 96
        self.section_table = self.opt + opt_size

    def u32(self, offset, value=None):
        if value is None:
            return struct.unpack_from('<I', self.data, offset)[0]
        struct.pack_into('<I', self.data, offset, value)

    def directory(self, index):
        return self.directories + 8 * index

    def section(self, name):
        for i in range(self.sections_count):
            at = self.section_table + 40 * i
            if self.data[at:at + 8].rstrip(b'\0') == name:
                return at
        raise SystemExit(f'no section {name!r}')

    def file_offset(self, rva):
        for i in range(self.sections_count):
            at = self.section_table + 40 * i
            vsize, vaddr, _, raw = struct.unpack_from('<IIII', self.data, at + 8)
            if vaddr <= rva < vaddr + vsize:
                return raw + rva - vaddr
        raise SystemExit(f'RVA 0x{rva:x} is in no section')


def import_section_read_only(pe):
    characteristics = pe.section(b'.idata') + 36
    pe.u32(characteristics, pe.u32(characteristics) & ~0x80000000)


def bound_imports(pe):
    # The first import descriptor's time stamp: -1 means bound.
    pe.u32(pe.file_offset(pe.u32(pe.directory(1))) + 4, 0xffffffff)


def rename_version(pe):
    name = 'Korvan USB Modem Uninstaller'.encode('utf-16-le')
    at = pe.data.index(name)
    pe.data[at + len(name) - 2] = ord('X')


def grow(pe):
    pe.data += bytes(512)


# name, what the copy breaks, what check-exe must say about it
CASES = [
    ('file alignment', lambda pe: pe.u32(pe.opt + 36, 0x1000), 'FileAlignment 00001000'),
    ('section alignment', lambda pe: pe.u32(pe.opt + 32, 0x2000), 'SectionAlignment 00002000'),
    ('IAT read-only', import_section_read_only, 'is not in a writable section'),
    ('relocations', lambda pe: pe.u32(pe.directory(5) + 4, 8), 'base relocation directory'),
    ('TLS', lambda pe: pe.u32(pe.directory(9) + 4, 24), 'TLS directory'),
    ('bound import directory', lambda pe: pe.u32(pe.directory(11) + 4, 16), 'bound import directory'),
    ('bound descriptor', bound_imports, 'are bound (time stamp ffffffff)'),
    ('delay-load imports', lambda pe: pe.u32(pe.directory(13) + 4, 32), 'delay-load import directory'),
    ('no resources', lambda pe: pe.u32(pe.directory(2) + 4, 0), 'has no resource directory'),
    ('VERSIONINFO name', rename_version, 'VERSIONINFO lacks "Korvan USB Modem Uninstaller"'),
    ('OS version 5', lambda pe: struct.pack_into('<H', pe.data, pe.opt + 40, 5), 'MajorOSystemVersion 5'),
    ('over budget', grow, '4608 bytes is over the budget of 4096'),
]


def check(check_exe, exe, objdump):
    r = subprocess.run([check_exe, exe, objdump], capture_output=True, text=True, check=False)
    return r.returncode, r.stdout + r.stderr


def main(argv):
    if len(argv) != 4:
        print(__doc__.strip().split('\n')[-1].strip(), file=sys.stderr)
        return 2
    check_exe, exe, objdump = argv[1:]
    with open(exe, 'rb') as f:
        original = f.read()
    failed = 0
    rc, out = check(check_exe, exe, objdump)
    if rc != 0:
        print(f'FAIL: check-exe rejects {exe} itself:\n{out}')
        return 1
    print(f'ok: {exe} passes')
    with tempfile.TemporaryDirectory(prefix='kvuninst-check-exe.') as tmp:
        for name, fault, expected in CASES:
            pe = Pe(original)
            fault(pe)
            copy = os.path.join(tmp, name.replace(' ', '-') + '.exe')
            with open(copy, 'wb') as f:
                f.write(pe.data)
            rc, out = check(check_exe, copy, objdump)
            if rc == 0 or expected not in out:
                failed += 1
                print(f'FAIL: {name}: check-exe exited {rc}, expected a failure saying '
                      f'"{expected}"; it said:\n{out}')
            else:
                line = next(l for l in out.splitlines() if expected in l)
                print(f'ok: {name}: {line.split(": ", 2)[-1]}')
    print(f'{len(CASES) + 1 - failed} passed, {failed} failed')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
