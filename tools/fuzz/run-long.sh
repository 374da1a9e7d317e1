#!/usr/bin/env bash
# Long fuzzing run of the manifest body, the channel resource and the click identifier under
# Wine, in a Wine prefix of its own (BUILD_DIR/fuzz-bed/prefix; no server or display needed):
#   tools/fuzz/run-long.sh BUILD_DIR [COUNT] [SEED]
# COUNT cases per target (default 100000), SEED the generator seed (default 20240601).
# Findings (inputs that failed) go to BUILD_DIR/fuzz-bed/findings; a case reproduces with
#   wine-run.sh BUILD_DIR/fuzz-bed manifest_fuzz.exe --seeds DIR --seed SEED --index INDEX
# Exits non-zero when any target reported a finding.
set -uo pipefail
if [[ $# -lt 1 ]]; then
  echo "usage: run-long.sh BUILD_DIR [COUNT] [SEED]" >&2
  exit 2
fi
build=$(realpath "$1")
count=${2:-100000}
seed=${3:-20240601}
source_dir=$(realpath "$(dirname "$0")/../..")
bed=$build/fuzz-bed
manifest_exe=$build/tests/fuzz/manifest_fuzz.exe
channel_exe=$build/tests/fuzz/channel_fuzz.exe
for exe in "$manifest_exe" "$channel_exe"; do
  [[ -f $exe ]] || { echo "run-long: $exe missing; build first" >&2; exit 2; }
done

# shellcheck disable=SC1091
source "$source_dir/tools/testbed/wine-layout.sh"
winpath() { local p; p=$(realpath -m "$1"); printf 'Z:%s' "${p//\//\\}"; }

mkdir -p "$bed"
export WINEPREFIX=$bed/prefix WINEDEBUG=-all WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d"
# Only this prefix's own wineserver is ended afterwards.
trap 'wineserver -k 2>/dev/null || true' EXIT
if [[ ! -d $WINEPREFIX ]]; then
  echo "run-long: making a Wine prefix in $WINEPREFIX"
  "${WINE_LAYOUT[@]}" wineboot -i </dev/null >"$bed/wine.log" 2>&1
fi

status=0
run() {
  local name=$1
  shift
  local start end
  start=$(date +%s%N)
  bash "$source_dir/tools/testbed/wine-run.sh" "$bed" "$@" --seed "$seed" --count "$count" \
    --out "$(winpath "$bed/findings")" 2>>"$bed/wine.log" | tee "$bed/$name.log"
  local rc=${PIPESTATUS[0]}
  end=$(date +%s%N)
  local ms=$(((end - start) / 1000000))
  printf 'run-long: %s finished with exit code %d in %d.%03d s\n\n' "$name" "$rc" \
    $((ms / 1000)) $((ms % 1000))
  [[ $rc -eq 0 ]] || status=1
}

echo "run-long: $count cases per target, seed $seed"
run manifest "$manifest_exe" --seeds "$(winpath "$source_dir/tests/data/manifest")"
run channel "$channel_exe"
if [[ $status -eq 0 ]]; then
  echo "run-long: no findings"
else
  echo "run-long: FINDINGS; inputs in $bed/findings"
fi
exit $status
