#!/usr/bin/env python3
"""Fails when a product folder includes a folder above it or beside it.

The allowed direction is app -> ui -> core -> {manifest, net, system} -> base: a folder may
include itself and the folders below it, never one above it, and the three middle folders do
not include each other. core/installer_types.h, the records the window and the worker exchange,
is a leaf that any folder may include; it includes nothing of the project's own.

Inside ui/ the window (ui/*) may include all of ui/; ui/page/, the page model, includes nothing
else of ui/ and no system header (it knows no window, Direct2D or COM: only the C++ library);
of the other folders only the records (the leaf) and the build's constants; ui/paint/,
ui/accessibility/ and ui/shell/ read ui/page/ but not each other.

  check-layers.py SOURCE_DIR
"""
import os
import re
import sys

RANK = {"app": 4, "ui": 3, "core": 2, "manifest": 1, "net": 1, "system": 1, "base": 0}
LEAF = "core/installer_types.h"
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
SYSTEM_INCLUDE = re.compile(r'^\s*#\s*include\s+<([^>]+)>', re.M)
UI_PARTS = {"page", "paint", "accessibility", "shell"}
PAGE_OUTSIDE = {LEAF, "core/build_config.h"}  # what the page model may include from below ui/


def ui_part(path):
    """The part of ui/ a path lies in: page, paint, accessibility, shell, or "" for the window."""
    parts = path.split("/")
    return parts[1] if len(parts) > 2 and parts[1] in UI_PARTS else ""


def ui_fault(relative, target):
    """Why a file of ui/ may not include target of ui/, or None."""
    part, other = ui_part(relative), ui_part(target)
    if part == "" or other == part or other == "page":
        return None
    if other == "":
        return f"ui/{part} includes {target}, the window above it"
    return f"ui/{part} includes {target}, beside it"


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
                if ui_part(relative) == "page":
                    for m in SYSTEM_INCLUDE.finditer(text):
                        checked += 1
                        if m.group(1).endswith(".h"):
                            line = text.count("\n", 0, m.start()) + 1
                            faults.append(f"{relative}:{line}: the page model includes "
                                          f"<{m.group(1)}>, a system header")
                for line, target in ((text.count("\n", 0, m.start()) + 1, m.group(1))
                                     for m in INCLUDE.finditer(text)):
                    other = target.split("/", 1)[0]
                    if other not in RANK:
                        continue
                    checked += 1
                    if relative == LEAF:
                        faults.append(f"{relative}:{line}: the leaf includes {target}")
                    elif (ui_part(relative) == "page" and other != "ui" and
                          target not in PAGE_OUTSIDE):
                        faults.append(f"{relative}:{line}: the page model includes {target}")
                    elif other == folder == "ui" and ui_fault(relative, target):
                        faults.append(f"{relative}:{line}: {ui_fault(relative, target)}")
                    elif other == folder or target == LEAF:
                        continue
                    elif RANK[other] > RANK[folder]:
                        faults.append(f"{relative}:{line}: {folder} includes {target}, above it")
                    elif RANK[other] == RANK[folder]:
                        faults.append(f"{relative}:{line}: {folder} includes {target}, beside it")
    for fault in faults:
        print(fault)
    print(f"{checked} includes checked, {len(faults)} against app -> ui -> core -> "
          "{manifest, net, system} -> base, and ui/page <- {paint, accessibility, shell} <- ui")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
