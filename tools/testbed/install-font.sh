#!/usr/bin/env bash
# Gives a test prefix a stand-in for the "Microsoft YaHei UI" family that the window's texts
# name: a copy of WenQuanYi Micro Hei whose name table carries that family name. Without a
# font of that family DirectWrite under Wine draws no text at all.
#   install-font.sh PREFIX TESTBED_DIR
set -euo pipefail
prefix=$(realpath -m "$1")
testbed=$(realpath -m "$2")
source_font=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
family="Microsoft YaHei UI"
file_name=msyhui-standin.ttf
fonts_dir=$prefix/drive_c/windows/Fonts

# fontTools may live only in the system interpreter when another python3 comes first in PATH.
python=""
for candidate in python3 /usr/bin/python3; do
  if command -v "$candidate" >/dev/null && "$candidate" -c 'import fontTools' 2>/dev/null; then
    python=$candidate
    break
  fi
done
if [[ -z $python ]]; then
  echo "install-font: python3 with fontTools (python3-fonttools) is needed" >&2
  exit 1
fi

mkdir -p "$fonts_dir" "$testbed"
"$python" - "$source_font" "$fonts_dir/$file_name" "$family" <<'PY'
import sys
from fontTools.ttLib import TTCollection

source, target, family = sys.argv[1:4]
font = TTCollection(source).fonts[0]  # the proportional face; [1] is the mono one
names = font["name"]
for record in list(names.names):
    if record.nameID in (1, 4, 16):
        names.setName(family, record.nameID, record.platformID, record.platEncID, record.langID)
    elif record.nameID == 3:
        names.setName(family + " Stand-in", 3, record.platformID, record.platEncID, record.langID)
    elif record.nameID == 6:
        names.setName(family.replace(" ", ""), 6, record.platformID, record.platEncID, record.langID)
font.save(target)
PY

export WINEPREFIX=$prefix WINEDEBUG=-all
wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts' \
  /v "$family (TrueType)" /t REG_SZ /d "$file_name" /f </dev/null >/dev/null 2>&1
echo "install-font: $family -> $fonts_dir/$file_name"
