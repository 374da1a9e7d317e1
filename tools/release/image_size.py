#!/usr/bin/env python3
"""Prints the size of a Windows executable: in all, without the embedded images, and its code.

Usage: image_size.py EXE IMAGE_FILE...  (the image files that the resource script embeds)
"""
import os
import struct
import sys

KIB = 1024
# Raised from 400 KB when the URL list, the resumed download, the named proxy, the signed
# manifest, the UI Automation service and the checks at the edges came in (434 KB together).
CODE_GOAL_KB = 440


def section_sizes(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count = struct.unpack_from("<H", data, pe + 6)[0]
    table = pe + 24 + struct.unpack_from("<H", data, pe + 20)[0]
    sizes = {}
    for i in range(count):
        name, virtual_size = struct.unpack_from("<8sI", data, table + 40 * i)
        sizes[name.rstrip(b"\0").decode()] = virtual_size
    return sizes


def main():
    exe, images = sys.argv[1], sys.argv[2:]
    data = open(exe, "rb").read()
    sections = section_sizes(data)
    total = len(data)
    image_bytes = sum(os.path.getsize(p) for p in images)
    code = sections.get(".text", 0)
    names = ", ".join(os.path.basename(p) for p in images)
    print(f"size in all:          {total:8d} bytes ({total / KIB:7.1f} KiB; goal at most 1024 KiB)")
    print(f"images ({names}): {image_bytes:8d} bytes")
    print(f"size without images:  {total - image_bytes:8d} bytes ({(total - image_bytes) / KIB:7.1f} KiB)")
    print(f"code (.text):         {code:8d} bytes ({code / 1000:7.1f} KB; goal at most {CODE_GOAL_KB} KB)")
    for name in (".rdata", ".data", ".pdata", ".xdata", ".rsrc"):
        if name in sections:
            print(f"  {name:8}            {sections[name]:8d} bytes")
    return 0 if total <= 1024 * KIB and code <= CODE_GOAL_KB * 1000 else 1


if __name__ == "__main__":
    sys.exit(main())
