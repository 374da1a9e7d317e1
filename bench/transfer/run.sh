#!/usr/bin/env bash
# Download, hashing, memory and hand-over benchmarks of one build tree (see
# bench/transfer/README.md):
#   bash bench/transfer/run.sh [--baseline-build OTHER_BUILD_DIR] BUILD_DIR [ROUNDS]
# Starts the build tree's test bed unless it is already running (and then stops it at the end),
# makes a 256 MiB payload and a signed package of that size in BUILD_DIR/bench, measures each
# case ROUNDS times (default 5), interleaved and in rotating order, and prints a table of medians.
# With --baseline-build the hand-over time is also measured on that other build tree (an older
# commit, built with another LUM_DEV_PORT), in its own test bed, side by side with BUILD_DIR.
set -euo pipefail

src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
usage() { echo "usage: bash bench/transfer/run.sh [--baseline-build OTHER_BUILD_DIR] BUILD_DIR [ROUNDS]" >&2; exit 2; }
baseline=
positional=()
while (($#)); do
  case $1 in
    --baseline-build) [[ $# -ge 2 ]] || usage; baseline=$(realpath "$2"); shift 2 ;;
    --baseline-build=*) baseline=$(realpath "${1#*=}"); shift ;;
    -*) usage ;;
    *) positional+=("$1"); shift ;;
  esac
done
[[ ${#positional[@]} -ge 1 && ${#positional[@]} -le 2 ]] || usage
build=$(realpath "${positional[0]}")
rounds=${positional[1]:-5}
config=$build/bench/transfer/config.sh
[[ -f $config ]] || { echo "run.sh: $config missing: build the tree first" >&2; exit 2; }
# shellcheck disable=SC1090
source "$config"
testbed=$build/testbed
work=$build/bench
mkdir -p "$work"
results=$work/transfer-results.txt
: >"$results"

readonly size=$((256 * 1024 * 1024))
readonly port=$BENCH_DEV_PORT
readonly ca=$BENCH_PKI_DIR/ca.crt
readonly payload=$work/payload.bin
readonly package=$work/VIVOV3_Setup_x64.exe
readonly route=/bench/payload.bin
readonly url=https://localhost:$port$route
readonly install_dir='C:\LumBench\VIVOV3'
readonly uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VIVOV3_PC'

winpath() { # Unix absolute path -> the same file through Wine's Z: drive
  local p
  p=$(realpath -m "$1")
  printf 'Z:%s' "${p//\//\\}"
}
wine_run() { bash "$src/tools/testbed/wine-run.sh" "$testbed" "$@" 2>>"$work/wine-stderr.log" | tr -d '\r'; }
control() { # control PATH JSON
  curl -sS --fail --cacert "$ca" -X POST -H 'Content-Type: application/json' -d "$2" \
    "https://localhost:$port/_control/$1" >/dev/null
}
server_up() {
  bash "$src/tools/testbed/testbed.sh" running "$testbed" &&
    curl -sS --fail --cacert "$ca" "https://localhost:$port/_control/ping" >/dev/null 2>&1
}
field() { # field NAME LINE
  sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<" $2"
}
median() { sort -g | awk '{v[NR]=$1} END {if (NR%2) print v[(NR+1)/2]; else print (v[NR/2]+v[NR/2+1])/2}'; }
mbps() { awk -v b="$1" -v s="$2" 'BEGIN {printf "%.1f", b / s / 1e6}'; }
round=0
record() { # record CASE BYTES SECONDS [CPU]: one line "CASE BYTES SECONDS MB/s ROUND CPU"
  echo "$1 $2 $3 $(mbps "$2" "$3") $round ${4:--}" >>"$results"
}

if [[ -n $baseline ]]; then
  [[ -f $baseline/bench/transfer/config.sh ]] || { echo "run.sh: $baseline is not a built tree" >&2; exit 2; }
  [[ -f $baseline/testbed/config.sh ]] || { echo "run.sh: $baseline/testbed/config.sh missing" >&2; exit 2; }
  [[ $baseline != "$build" ]] || { echo "run.sh: the baseline build is the build itself" >&2; exit 2; }
  # shellcheck disable=SC1091
  base_value() { (source "$baseline/bench/transfer/config.sh" && printf '%s' "${!1}"); }
  base_port=$(base_value BENCH_DEV_PORT)
  [[ $base_port != "$port" ]] || { echo "run.sh: both builds talk to port $port: configure one with another -DLUM_DEV_PORT" >&2; exit 2; }
  base_pki=$(base_value BENCH_PKI_DIR)
  base_headless=$(base_value BENCH_HEADLESS_INSTALL)
  base_app=$(base_value BENCH_DEMO_APP)
  # The baseline's own test bed settings, with this tree's scripts and release server, whose end
  # mark an older tree may not have (and which stay there when the older source tree is gone).
  base_testbed=$baseline/bench/handover-testbed
  mkdir -p "$base_testbed"
  printf "source '%s'\nLUM_SOURCE_DIR='%s'\nLUM_FONT_TOOL='%s'\n" "$baseline/testbed/config.sh" "$src" \
    "$src/tools/testbed/install-font.sh" >"$base_testbed/config.sh"
fi

started=0
base_started=0
cleanup() {
  rm -f "$work"/dl-*.bin
  if [[ -d $testbed/prefix ]]; then
    rm -rf "$testbed/prefix/drive_c/LumBench"
    if server_up; then
      wine_run reg delete "$uninstall_key" /reg:64 /f >/dev/null 2>&1 || true
      control reset '{}' || true
    fi
  fi
  if ((base_started)); then
    rm -rf "$base_testbed/prefix/drive_c/LumBench"
    bash "$src/tools/testbed/testbed.sh" stop "$base_testbed" >/dev/null
  fi
  if ((started)); then bash "$src/tools/testbed/testbed.sh" stop "$testbed" >/dev/null; fi
}
trap cleanup EXIT

if ! server_up; then
  bash "$src/tools/testbed/testbed.sh" start "$testbed"
  started=1
fi

# ---- The payload (random, so nothing compresses it) and the package that carries it ----
if [[ ! -f $payload || $(stat -c %s "$payload") -ne $size ]]; then
  echo "making $payload"
  head -c "$size" /dev/urandom >"$payload.tmp" && mv "$payload.tmp" "$payload"
fi
script=$src/bench/transfer/big_package.nsi
make_package() { # make_package PKI_DIR DEMO_APP OUT: the package, signed with that tree's test cert
  local pki=$1 app=$2 out=$3
  if [[ ! -f $out || $out -ot $payload || $out -ot $script || $out -ot $app || $out -ot $pki/trusted.key ]]; then
    echo "making $out"
    rm -f "$out.unsigned.exe" "$out"
    makensis -V2 -INPUTCHARSET UTF8 -DVERSION=2.0.0 "-DAPP_EXE=$app" "-DBULK=$payload" \
      "-DOUT_FILE=$out.unsigned.exe" "$script" >/dev/null
    # osslsigncode refuses to overwrite its output.
    osslsigncode sign -certs "$pki/trusted.crt" -key "$pki/trusted.key" -h sha256 \
      -in "$out.unsigned.exe" -out "$out" >/dev/null
    rm -f "$out.unsigned.exe"
  fi
}
make_package "$BENCH_PKI_DIR" "$BENCH_DEMO_APP" "$package"

warm() { cat "$@" >/dev/null; }

# ---- Download: DownloadToFile, the bare WinHTTP loop (into a file, and dropping the bytes), curl ----
control reset '{}'
control routes "{\"path\": \"$route\", \"method\": \"GET\", \"file\": \"$payload\"}"
download_case() {
  local line dest
  case $1 in
    product)
      dest=$work/dl-product.bin
      line=$(wine_run "$BENCH_TRANSFER_EXE" download-product "$url" "$(winpath "$dest")" "$size")
      [[ $(field bytes "$line") == "$size" ]] || { echo "download-product failed: $line" >&2; exit 1; }
      record download.product "$size" "$(field seconds "$line")" "$(field cpu "$line")"
      echo "  $line" ;;
    open)
      dest=$work/dl-open.bin
      line=$(wine_run "$BENCH_TRANSFER_EXE" download-open "$url" "$(winpath "$dest")" "$size")
      [[ $(field bytes "$line") == "$size" ]] || { echo "download-open failed: $line" >&2; exit 1; }
      record download.open "$size" "$(field seconds "$line")" "$(field cpu "$line")"
      echo "  $line" ;;
    bare)
      dest=$work/dl-bare.bin
      line=$(wine_run "$BENCH_TRANSFER_EXE" download-bare "$url" "$(winpath "$dest")")
      [[ $(field bytes "$line") == "$size" ]] || { echo "download-bare failed: $line" >&2; exit 1; }
      record download.bare "$size" "$(field seconds "$line")" "$(field cpu "$line")"
      echo "  $line" ;;
    discard)
      line=$(wine_run "$BENCH_TRANSFER_EXE" download-bare "$url" -)
      [[ $(field bytes "$line") == "$size" ]] || { echo "download-bare - failed: $line" >&2; exit 1; }
      record download.bare_discard "$size" "$(field seconds "$line")" "$(field cpu "$line")"
      echo "  $line" ;;
    curl)
      dest=$work/dl-curl.bin
      read -r bytes seconds < <(curl -sS --fail --cacert "$ca" -o "$dest" \
        -w '%{size_download} %{time_total}\n' "$url")
      [[ $bytes == "$size" ]] || { echo "curl failed: $bytes bytes" >&2; exit 1; }
      record download.curl "$bytes" "$seconds"
      echo "  result case=download.curl bytes=$bytes seconds=$seconds" ;;
  esac
  if [[ -n ${dest:-} && $1 != curl ]]; then
    cmp -s "$dest" "$payload" || { echo "download $1: file differs from the payload" >&2; exit 1; }
  fi
  rm -f "$work"/dl-*.bin
}
cases=(product open bare discard curl)
for ((r = 0; r < rounds; r++)); do
  round=$((r + 1))
  echo "download round $((r + 1))/$rounds"
  for ((i = 0; i < ${#cases[@]}; i++)); do
    warm "$payload"
    download_case "${cases[(i + r) % ${#cases[@]}]}"
  done
done

# ---- Hashing: ComputeFileSha256, the bare CNG loop, sha256sum, all from the page cache ----
expected=$(sha256sum "$payload" | cut -c1-64)
hash_case() {
  local line start end
  case $1 in
    product | bare)
      line=$(wine_run "$BENCH_TRANSFER_EXE" "hash-$1" "$(winpath "$payload")")
      [[ $(field digest "$line") == "$expected" ]] || { echo "hash-$1 wrong: $line" >&2; exit 1; }
      record "hash.$1" "$size" "$(field seconds "$line")" "$(field cpu "$line")"
      echo "  $line" ;;
    sha256sum)
      start=$(date +%s.%N)
      [[ $(sha256sum "$payload" | cut -c1-64) == "$expected" ]] || exit 1
      end=$(date +%s.%N)
      line="result case=hash.sha256sum bytes=$size seconds=$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.6f", b - a}')"
      record hash.sha256sum "$size" "$(field seconds "$line")"
      echo "  $line" ;;
  esac
}
cases=(product bare sha256sum)
for ((r = 0; r < rounds; r++)); do
  round=$((r + 1))
  echo "hash round $((r + 1))/$rounds"
  for ((i = 0; i < ${#cases[@]}; i++)); do
    warm "$payload"
    hash_case "${cases[(i + r) % ${#cases[@]}]}"
  done
done

# ---- Memory: a whole headless installation of the 256 MiB package, and Wine's baseline ----
# The DLLs the installation loads beyond kernel32, for the second baseline.
dlls=(winhttp.dll bcrypt.dll wintrust.dll crypt32.dll shell32.dll ole32.dll advapi32.dll user32.dll)
memory_case() { # memory_case NAME PROGRAM [ARGS...]; the program's output goes to $work/memory-NAME.log
  local name=$1 line
  shift
  wine_run "$BENCH_MEMORY_PROBE" "$@" >"$work/memory-$name.log" || true
  line=$(grep '^memory ' "$work/memory-$name.log" || true)
  [[ $(field exit "$line") == 0 ]] || { echo "memory $name failed: $line (see $work/memory-$name.log)" >&2; exit 1; }
  echo "memory.$name $(field peak_working_set "$line") $(field peak_private "$line") - $round" >>"$results"
  echo "  $name: $line"
}
# Wine copies a program's whole image into private memory when its sections are not page
# aligned in the file (as MinGW links them), debug sections included; Windows maps them and
# never touches those. So the installation is measured as built and once more without its debug
# information, the way a release build ships.
nodebug=$work/headless_install.nodebug.exe
if [[ ! -f $nodebug || $nodebug -ot $BENCH_HEADLESS_INSTALL ]]; then
  "$BENCH_STRIP" --strip-debug -o "$nodebug" "$BENCH_HEADLESS_INSTALL"
fi
python3 "$src/tools/demo/serve_demo.py" --port "$port" --ca "$ca" --package "$package" >/dev/null
for ((r = 0; r < rounds; r++)); do
  round=$((r + 1))
  echo "memory round $((r + 1))/$rounds"
  memory_case idle "$BENCH_IDLE_PROGRAM"
  memory_case idle_dlls "$BENCH_IDLE_PROGRAM" "${dlls[@]}"
  for variant in install install_nodebug; do
    exe=$BENCH_HEADLESS_INSTALL
    [[ $variant == install_nodebug ]] && exe=$nodebug
    warm "$package"
    memory_case "$variant" "$exe" --dir "$install_dir" --no-desktop-shortcut --no-start-menu-shortcut
    grep -q '^status 6 100 ' "$work/memory-$variant.log" || { echo "$variant did not complete" >&2; exit 1; }
    rm -rf "$testbed/prefix/drive_c/LumBench"
  done
done

# ---- Hand-over: from the package's last byte read by the client to the package's own start ----
# The release server stamps when the client has read the last byte of the package's body (route
# option mark_end), the package stamps when its own code starts (LUM_BENCH_START_FILE, see
# big_package.nsi); both come from the one CLOCK_REALTIME. With a baseline build, each round
# runs one installation of each build, in alternating order.
package_route=/packages/VIVOV3_Setup_x64.exe
handover_sides=(after)
if [[ -n $baseline ]]; then
  handover_sides=(before after)
  make_package "$base_pki" "$base_app" "$baseline/bench/VIVOV3_Setup_x64.exe"
  bash "$src/tools/testbed/testbed.sh" start "$base_testbed"
  base_started=1
fi
side_testbed() { if [[ $1 == before ]]; then echo "$base_testbed"; else echo "$testbed"; fi; }
side_port() { if [[ $1 == before ]]; then echo "$base_port"; else echo "$port"; fi; }
side_ca() { if [[ $1 == before ]]; then echo "$base_pki/ca.crt"; else echo "$ca"; fi; }
side_package() { if [[ $1 == before ]]; then echo "$baseline/bench/VIVOV3_Setup_x64.exe"; else echo "$package"; fi; }
side_headless() { if [[ $1 == before ]]; then echo "$base_headless"; else echo "$BENCH_HEADLESS_INSTALL"; fi; }
side_requests() { # side_requests SIDE FILE: the release server's request records
  curl -sS --fail --cacert "$(side_ca "$1")" "https://localhost:$(side_port "$1")/_control/requests" >"$2"
}
serve_side() { # serve_side SIDE: the manifest and the package, the package's route with the end mark
  local at_port at_ca at_package
  at_port=$(side_port "$1") at_ca=$(side_ca "$1") at_package=$(side_package "$1")
  python3 "$src/tools/demo/serve_demo.py" --port "$at_port" --ca "$at_ca" --package "$at_package" >/dev/null
  curl -sS --fail --cacert "$at_ca" -X POST -H 'Content-Type: application/json' \
    -d "{\"path\": \"$package_route\", \"method\": \"GET\", \"file\": \"$at_package\", \"mark_end\": true}" \
    "https://localhost:$at_port/_control/routes" >/dev/null
}
for side in "${handover_sides[@]}"; do serve_side "$side"; done
machine_env='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
handover_case() { # handover_case SIDE
  local side=$1 tb log stamp line previous
  tb=$(side_testbed "$side")
  log=$work/handover-$side.log
  stamp=$work/handover-$side.start
  side_requests "$side" "$work/handover-requests.json"
  previous=$(python3 "$src/bench/transfer/handover.py" last-seq "$work/handover-requests.json" "$package_route")
  rm -f "$stamp"
  rm -rf "$tb/prefix/drive_c/LumBench"
  warm "$(side_package "$side")"
  # The package gets the machine's environment, not the installer's: the mark's path goes there.
  bash "$src/tools/testbed/wine-run.sh" "$tb" reg add "$machine_env" /v LUM_BENCH_START_FILE \
    /d "$(winpath "$stamp")" /f >/dev/null 2>>"$work/wine-stderr.log"
  bash "$src/tools/testbed/wine-run.sh" "$tb" "$(side_headless "$side")" \
    --dir "$install_dir" --no-desktop-shortcut --no-start-menu-shortcut 2>>"$work/wine-stderr.log" |
    python3 "$src/bench/transfer/handover.py" stamp-lines >"$log" || true
  grep -q '^[0-9]* status 6 100 ' "$log" || { echo "hand-over $side: the installation did not complete (see $log)" >&2; exit 1; }
  [[ -f $stamp ]] || { echo "hand-over $side: the package wrote no start mark" >&2; exit 1; }
  side_requests "$side" "$work/handover-requests.json"
  line=$(python3 "$src/bench/transfer/handover.py" figures "$work/handover-requests.json" "$stamp" "$log" \
    "$package_route" "$previous")
  rm -rf "$tb/prefix/drive_c/LumBench"
  echo "handover.$side $(stat -c %s "$(side_package "$side")") $(field seconds "$line") - $round - $line" >>"$results"
  echo "  $side: $line"
}
handover_load_start=$(cut -d' ' -f1-3 /proc/loadavg)
for ((r = 0; r < rounds; r++)); do
  round=$((r + 1))
  echo "hand-over round $((r + 1))/$rounds"
  for ((i = 0; i < ${#handover_sides[@]}; i++)); do
    handover_case "${handover_sides[(i + r) % ${#handover_sides[@]}]}"
  done
done
handover_load_end=$(cut -d' ' -f1-3 /proc/loadavg)

# ---- The table ----
med() { awk -v c="$1" -v k="$2" '$1 == c {print $k}' "$results" | median; }
mib() { awk -v b="$1" 'BEGIN {printf "%.1f", b / 1048576}'; }
maxof() { awk -v c="$1" -v k="$2" '$1 == c && $k > m {m = $k} END {print m + 0}' "$results"; }
# Median of the per-round ratios of two cases: each pair ran back to back under the same load.
ratio() {
  awk -v a="$1" -v b="$2" '$1 == a {x[$5] = $4} $1 == b {y[$5] = $4}
    END {for (r in x) if (r in y) printf "%.6f\n", x[r] / y[r]}' "$results" | median |
    awk '{printf "%.3f", $1}'
}
verdict() { awk -v v="$1" -v t="$2" 'BEGIN {print (v >= t ? "met" : "MISSED")}'; }

dl_product=$(med download.product 4)
dl_open=$(med download.open 4)
dl_bare=$(med download.bare 4)
dl_discard=$(med download.bare_discard 4)
dl_curl=$(med download.curl 4)
h_product=$(med hash.product 4)
h_bare=$(med hash.bare 4)
h_sum=$(med hash.sha256sum 4)
dl_ratio=$(ratio download.product download.bare)
dl_open_ratio=$(ratio download.open download.bare)
h_ratio=$(ratio hash.product hash.bare)
mem_ws=$(maxof memory.install 2)
mem_private=$(maxof memory.install 3)
nd_ws=$(maxof memory.install_nodebug 2)
nd_private=$(maxof memory.install_nodebug 3)
idle_ws=$(maxof memory.idle 2)
idle_private=$(maxof memory.idle 3)
dlls_ws=$(maxof memory.idle_dlls 2)
dlls_private=$(maxof memory.idle_dlls 3)
below32() { awk -v v="$1" 'BEGIN {print (v < 32 * 1048576 ? "met" : "MISSED")}'; }

row() { printf '%-10s%-36s%8s  %7s  %7s  %s\n' "$@"; }
cpu() { awk -v c="$1" '$1 == c && $6 != "-" {print $6}' "$results" | median | awk 'NF {printf "%.2f", $1}'; }
mrow() { printf '%-46s%8s  %11s  %s\n' "$@"; }
echo
echo "Transfer benchmarks: $((size / 1048576)) MiB payload, $rounds interleaved rounds; MB/s = 10^6 bytes/s, median;"
echo "ratio = median of the per-round ratios to the baseline of the same round; CPU s = median user+kernel"
echo "seconds of the Windows process over the measured span (not measured for the host tools)"
echo "machine: $(nproc) cores ($(lscpu | sed -n 's/^Model name: *//p' | head -1)), $(free -g | awk '/^Mem:/ {print $2}') GiB RAM," \
  "$(uname -sr), $(wine --version 2>/dev/null), $(curl --version | head -1 | cut -d' ' -f1-2)"
echo
row "" "case" "MB/s" "ratio" "CPU s" ""
row download "DownloadToFile" "$dl_product" "$dl_ratio" "$(cpu download.product)" "of the bare loop; target >= 0.95: $(verdict "$dl_ratio" 0.95)"
row download "DownloadToOpenFile" "$dl_open" "$dl_open_ratio" "$(cpu download.open)" "of the bare loop; target >= 0.95: $(verdict "$dl_open_ratio" 0.95)"
row download "bare WinHTTP loop, 64 KiB, to file" "$dl_bare" "1.000" "$(cpu download.bare)" "baseline"
row download "bare WinHTTP loop, bytes dropped" "$dl_discard" "$(ratio download.bare_discard download.bare)" "$(cpu download.bare_discard)" ""
row download "curl (host), to file" "$dl_curl" "$(ratio download.curl download.bare)" "-" ""
row hash "ComputeFileSha256" "$h_product" "$h_ratio" "$(cpu hash.product)" "of the bare loop; target >= 0.90: $(verdict "$h_ratio" 0.90)"
row hash "bare CNG loop, 1 MiB reads" "$h_bare" "1.000" "$(cpu hash.bare)" "baseline"
row hash "sha256sum (host)" "$h_sum" "$(ratio hash.sha256sum hash.bare)" "-" ""
echo
mrow "memory, MiB (largest of $rounds runs)" "private" "working set" "target < 32 MiB"
echo "headless installation of the $(mib "$(stat -c %s "$package")") MiB package:"
mrow "  as built ($(mib "$(stat -c %s "$BENCH_HEADLESS_INSTALL")") MiB exe with debug info)" "$(mib "$mem_private")" \
  "$(mib "$mem_ws")" "private $(below32 "$mem_private"), working set $(below32 "$mem_ws")"
mrow "  debug info stripped ($(mib "$(stat -c %s "$nodebug")") MiB exe)" "$(mib "$nd_private")" \
  "$(mib "$nd_ws")" "private $(below32 "$nd_private"), working set $(below32 "$nd_ws")"
mrow "baseline: idle program" "$(mib "$idle_private")" "$(mib "$idle_ws")" ""
mrow "baseline: idle program + the same DLLs" "$(mib "$dlls_private")" "$(mib "$dlls_ws")" ""

# Hand-over: seconds, lower is better, so its ratio is after / before of each round.
describe_build() { # the commit a build tree was built from
  local dir=$1 tree head product dirty
  tree=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$dir/CMakeCache.txt")
  if ! git -C "$tree" rev-parse --git-dir >/dev/null 2>&1; then
    echo "source $tree not found, commit unknown"
    return
  fi
  head=$(git -C "$tree" rev-parse --short HEAD)
  product=$(git -C "$tree" log -1 --format=%h -- app core manifest net system ui)
  dirty=$(git -C "$tree" status --porcelain -- app core manifest net system ui | head -1)
  local text=$head
  [[ -n $product && $product != "$head" ]] && text+=" (product code as of $product)"
  [[ -n $dirty ]] && text+=", with uncommitted product changes"
  echo "$text"
}
secs() { awk 'NF {printf "%.3f", $1}'; }
ho_after=$(med handover.after 3 | secs)
hrow() { printf '%-10s%-36s%8s  %8s  %7s  %s\n' "$@"; }
echo
echo "hand-over, s: from the last byte of the package read by the client (release server) to the package's"
echo "own code running (its .onInit); median of $rounds interleaved rounds; ratio = median of per-round after/before"
hrow "" "case" "before" "after" "ratio" ""
if [[ -n $baseline ]]; then
  ho_before=$(med handover.before 3 | secs)
  ho_ratio=$(awk '$1 == "handover.before" {x[$5] = $3} $1 == "handover.after" {y[$5] = $3}
    END {for (r in x) if (r in y) printf "%.6f\n", y[r] / x[r]}' "$results" | median | awk '{printf "%.3f", $1}')
  hrow hand-over "last byte to package start" "$ho_before" "$ho_after" "$ho_ratio" \
    "target <= 0.60: $(awk -v v="$ho_ratio" 'BEGIN {print (v <= 0.6 ? "met" : "MISSED")}')"
  echo "  before: $baseline, $(describe_build "$baseline"), $(mib "$(stat -c %s "$(side_package before)")") MiB package"
else
  hrow hand-over "last byte to package start" "-" "$ho_after" "-" "no baseline: --baseline-build OTHER_BUILD_DIR"
fi
echo "  after:  $build, $(describe_build "$build"), $(mib "$(stat -c %s "$package")") MiB package"
echo "  machine: $(nproc) cores ($(lscpu | sed -n 's/^Model name: *//p' | head -1)), $(free -g | awk '/^Mem:/ {print $2}') GiB RAM," \
  "$(uname -sr), $(wine --version 2>/dev/null); load average $handover_load_start before these rounds, $handover_load_end after"
echo "raw figures: $results"
