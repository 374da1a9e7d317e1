#!/usr/bin/env python3
"""Fails when a product folder includes a folder above it or beside it.

The allowed direction is app -> ui -> core -> {manifest, net, system} -> base: a folder may
include itself and the folders below it, never one above it, and the three middle folders do
not include each other. core/installer_types.h, the records the window and the worker exchange,
is a leaf that any folder may include; it includes nothing of the project's own.

  check-layers.py SOURCE_DIR
"""
import os
import re
import sys

RANK = {"app": 4, "ui": 3, "core": 2, "manifest": 1, "net": 1, "system": 1, "base": 0}
LEAF = "core/installer_types.h"
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def main():
    source = sys.argv[1] if len(sys.argv) > 1 else "."
    checked, faults = 0, []
    for folder in RANK:
        for root, _, files in os.walk(os.path.join(source, folder)):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp", ".h.in")):
                    continue
                path = os.path.join(root, name)
                relative = os.path.relpath(path, source).replace(os.sep, "/")
                with open(path, encoding="utf-8") as f:
                    text = f.read()
                for line, target in ((text.count("\n", 0, m.start()) + 1, m.group(1))
                                     for m in INCLUDE.finditer(text)):
                    other = target.split("/", 1)[0]
                    if other not in RANK:
                        continue
                    checked += 1
                    if relative == LEAF:
                        faults.append(f"{relative}:{line}: the leaf includes {target}")
                    elif other == folder or target == LEAF:
                        continue
                    elif RANK[other] > RANK[folder]:
                        faults.append(f"{relative}:{line}: {folder} includes {target}, above it")
                    elif RANK[other] == RANK[folder]:
                        faults.append(f"{relative}:{line}: {folder} includes {target}, beside it")
    for fault in faults:
        print(fault)
    print(f"{checked} includes checked, {len(faults)} against app -> ui -> core -> "
          "{manifest, net, system} -> base")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
