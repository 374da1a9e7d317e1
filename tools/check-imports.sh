#!/usr/bin/env bash
# Fails unless every DLL that the executable imports (directly or delay-loaded) is a Windows
# system DLL from the allow-list below.
set -euo pipefail
exe=$1
allowed=(
  kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll shlwapi.dll ole32.dll oleaut32.dll
  winhttp.dll bcrypt.dll crypt32.dll wintrust.dll d2d1.dll dwrite.dll windowscodecs.dll
  dwmapi.dll msvcrt.dll comctl32.dll uxtheme.dll version.dll
)
mapfile -t imports < <(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
if ((${#imports[@]} == 0)); then
  echo "no imports found in $exe" >&2
  exit 1
fi
bad=0
for dll in "${imports[@]}"; do
  ok=0
  for a in "${allowed[@]}"; do [[ $dll == "$a" ]] && ok=1; done
  if ((ok)); then echo "ok       $dll"; else echo "REFUSED  $dll" >&2; bad=1; fi
done
exit $bad
