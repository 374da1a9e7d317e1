#!/usr/bin/env bash
# The bootstrapper's main job: sets up the machine, builds, starts the local release server with
# the demo package and runs the real bootstrapper window through a whole installation (press
# "一键安装", watch the progress, "立即体验", the installed application starts).
# The window shows on your display when DISPLAY is set (and CI is not), otherwise under Xvfb;
# the screenshots of what it showed are saved to BUILD/screenshots/install-*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${LUM_BUILD_DIR:-build}
bash tools/setup.sh
cmake --preset default -B "$build"
cmake --build "$build"
build=$(realpath "$build")
user_display=${DISPLAY:-}
trap 'bash tools/testbed/testbed.sh stop "$build/testbed" >/dev/null' EXIT
bash tools/testbed/testbed.sh start "$build/testbed"
if [[ -n $user_display && -z ${CI:-} ]]; then
  echo "$user_display" >"$build/testbed/display"
  # Your window manager manages the window, as on Windows (the test bed's Xvfb has none).
  bash tools/testbed/wine-run.sh "$build/testbed" reg add 'HKCU\Software\Wine\X11 Driver' \
    /v Managed /t REG_SZ /d Y /f >/dev/null
fi
python3 tests/ui/ui_driver.py --build "$build" --source "$PWD" --only real_install
ls "$build"/screenshots/install-*.png
