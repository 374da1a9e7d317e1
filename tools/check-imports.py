#!/usr/bin/env python3
"""Checks what a Windows executable loads at start and on demand.

Ordinary imports must all be Windows known DLLs (the loader takes those from System32 whatever
the search order); every other system DLL must be delay-loaded, and both lists must hold only
names from the allow-lists below. GNU ld leaves the PE delay-import directory empty, so the
delay-import descriptors are found by scanning the image for them.
"""
import struct
import sys

KNOWN = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll",
         "ole32.dll", "oleaut32.dll", "msvcrt.dll", "ws2_32.dll", "comdlg32.dll", "imm32.dll"}
DELAY_ALLOWED = {"winhttp.dll", "bcrypt.dll", "crypt32.dll", "wintrust.dll", "d2d1.dll",
                 "dwrite.dll", "dwmapi.dll", "windowscodecs.dll", "uxtheme.dll", "version.dll",
                 "comctl32.dll", "userenv.dll"}


class Image:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE image")
        sections = struct.unpack_from("<H", data, pe + 6)[0]
        optional_size = struct.unpack_from("<H", data, pe + 20)[0]
        optional = pe + 24
        if struct.unpack_from("<H", data, optional)[0] != 0x20B:
            raise ValueError("not a PE32+ image")
        self.directories = optional + 112
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            _, vsize, rva, raw_size, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((rva, max(vsize, raw_size), raw, raw_size))

    def offset(self, rva):
        for start, size, raw, raw_size in self.sections:
            if start <= rva < start + size and rva - start < raw_size:
                return raw + rva - start
        return None

    def string(self, rva):
        at = self.offset(rva)
        if at is None:
            return None
        end = self.data.find(b"\0", at, at + 260)
        return self.data[at:end].decode("ascii", "replace") if end > at else None

    def imports(self):
        rva, _ = struct.unpack_from("<II", self.data, self.directories + 8)
        names = []
        at = self.offset(rva) if rva else None
        while at is not None:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, at)
            if not (lookup or name or thunks):
                break
            names.append(self.string(name))
            at += 20
        return names

    def delay_imports(self):
        names = []
        for start, size, raw, raw_size in self.sections:
            for at in range(raw, raw + raw_size - 32 + 1, 4):
                attrs, name, module, iat, int_, bound, unload, stamp = struct.unpack_from(
                    "<8I", self.data, at)
                if attrs != 1 or bound or unload or stamp or not (name and module and iat and int_):
                    continue
                text = self.string(name)
                if text and text.lower().endswith(".dll") and all(
                        self.offset(r) is not None for r in (module, iat, int_)):
                    names.append(text)
        return names


def main():
    image = Image(open(sys.argv[1], "rb").read())
    static = sorted({n.lower() for n in image.imports()})
    delayed = sorted({n.lower() for n in image.delay_imports()})
    bad = 0
    if not static:
        print("no imports found", file=sys.stderr)
        bad = 1
    for name in static:
        ok = name in KNOWN
        print(f"{'ok' if ok else 'REFUSED':8} import        {name}")
        bad |= not ok
    for name in delayed:
        ok = name in DELAY_ALLOWED
        print(f"{'ok' if ok else 'REFUSED':8} delay-loaded  {name}")
        bad |= not ok
    if len(sys.argv) > 2:
        expected = sorted(n.lower() + ".dll" for n in sys.argv[2:])
        if delayed != expected:
            print(f"delay-loaded {delayed}, expected {expected}", file=sys.stderr)
            bad = 1
    return bad


if __name__ == "__main__":
    sys.exit(main())
