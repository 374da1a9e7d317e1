#!/usr/bin/env bash
# The download over an emulated long, lossy link (see bench/network/README.md):
#   bash bench/network/run.sh [--baseline-build OTHER_BUILD_DIR] [options] BUILD_DIR|- [SEEDS]
# BUILD_DIR holds the new product, OTHER_BUILD_DIR today's (a build of an older commit); either
# may be left out ("-" for BUILD_DIR), and its column then reads "-". Options:
#   --cases "RTT_MS:LOSS_%:CC ..."  default "20:0:cubic 20:0:bbr 200:1:cubic 200:1:bbr"
#   --size-mib N      the package's payload (default 8)
#   --rate-mbit N     the bottleneck, each way (default 20)
#   --queue-ms N      its drop-tail queue, in ms at the rate (default 100)
#   --time-limit S    one download's limit (default 600)
#   --work DIR        working folder (default BUILD_DIR/bench/network, else OTHER's)
# SEEDS (default 3): loss seeds per case; the table shows medians.
# Each build gets a test bed of its own (a Wine prefix trusting its test root, its release server
# serving the signed manifest on the namespace's loopback) whose network namespace is the client's;
# a second namespace holds the far release server with the package, on 198.19.0.1; link.py joins
# them. curl and aria2c run in the first build's client namespace against its far server. Needs
# root (namespaces, TUN devices, setns). Everything it starts ends on exit, also on error or ^C.
set -euo pipefail
# The whole script is one block, read before it runs: editing the file during a long run cannot
# change what that run does. (shellcheck takes the functions of such a block for unreachable.)
# shellcheck disable=SC2317
{
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
here=$src/bench/network
usage() {
  sed -n '2,12p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
  exit 2
}
baseline=
cases_arg="20:0:cubic 20:0:bbr 200:1:cubic 200:1:bbr"
size_mib=8
rate=20
queue_ms=100
limit=600
work=
positional=()
while (($#)); do
  case $1 in
    --baseline-build) [[ $# -ge 2 ]] || usage; baseline=$(realpath "$2"); shift 2 ;;
    --cases) [[ $# -ge 2 ]] || usage; cases_arg=$2; shift 2 ;;
    --size-mib) [[ $# -ge 2 ]] || usage; size_mib=$2; shift 2 ;;
    --rate-mbit) [[ $# -ge 2 ]] || usage; rate=$2; shift 2 ;;
    --queue-ms) [[ $# -ge 2 ]] || usage; queue_ms=$2; shift 2 ;;
    --time-limit) [[ $# -ge 2 ]] || usage; limit=$2; shift 2 ;;
    --work) [[ $# -ge 2 ]] || usage; work=$(realpath -m "$2"); shift 2 ;;
    -) positional+=("$1"); shift ;;
    -*) usage ;;
    *) positional+=("$1"); shift ;;
  esac
done
[[ ${#positional[@]} -ge 1 && ${#positional[@]} -le 2 ]] || usage
build=
[[ ${positional[0]} == - ]] || build=$(realpath "${positional[0]}")
seeds=${positional[1]:-3}
[[ -n $build || -n $baseline ]] || { echo "run.sh: no build to measure" >&2; exit 2; }
[[ $build != "$baseline" ]] || { echo "run.sh: the baseline build is the build itself" >&2; exit 2; }
[[ $seeds =~ ^[1-9][0-9]*$ && $size_mib =~ ^[1-9][0-9]*$ && $limit =~ ^[1-9][0-9]*$ ]] || usage
[[ $(id -u) -eq 0 ]] || { echo "run.sh: needs root (network namespaces, TUN devices)" >&2; exit 2; }
for tool in aria2c curl nsenter unshare ip sysctl makensis osslsigncode openssl python3 wine; do
  command -v "$tool" >/dev/null || { echo "run.sh: $tool missing (bash tools/setup.sh)" >&2; exit 2; }
done
[[ -e /dev/net/tun ]] || { echo "run.sh: no /dev/net/tun" >&2; exit 2; }
work=${work:-${build:-$baseline}/bench/network}
mkdir -p "$work"
# shellcheck source=bench/network/netlink.sh
source "$here/netlink.sh"

readonly size=$((size_mib * 1024 * 1024))
readonly server_ip=198.19.0.1 client_ip=198.18.0.1 far_port=8443
readonly route=/packages/VIVOV3_Setup_x64.exe
readonly url=https://$server_ip:$far_port$route
readonly install_dir='C:\LumBench\VIVOV3'
readonly uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VIVOV3_PC'
readonly payload=$work/payload-$size_mib.bin
# What this run starts outside the test beds lives at most this long, even if we are killed.
n_cases=$(wc -w <<<"$cases_arg")
readonly life=$((n_cases * seeds * 4 * (limit + 150) + 1800))
results=$work/results.txt
: >"$results"

# ---- Per build ("side"): new, today ----
sides=()
if [[ -n $build ]]; then sides+=(new); fi
if [[ -n $baseline ]]; then sides+=(today); fi
declare -A side_build side_tb side_ca side_pkg side_client side_server side_far
side_build[new]=$build
side_build[today]=$baseline
holders=()
far_pids=()
link_pid=
started_tbs=()

cleanup() {
  local pid tb
  [[ -n $link_pid ]] && netlink_stop "$link_pid"
  for pid in "${far_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for tb in "${started_tbs[@]}"; do
    rm -rf "$tb/prefix/drive_c/LumBench"
    bash "$src/tools/testbed/testbed.sh" stop "$tb" >/dev/null 2>&1 || true
  done
  for pid in "${holders[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -f "$work"/dl-* "$work"/link.ready
}
trap cleanup EXIT
trap 'exit 130' INT TERM

winpath() { local p; p=$(realpath -m "$1"); printf 'Z:%s' "${p//\//\\}"; }
config_value() { # config_value BUILD NAME: a value of that build's test bed configuration
  # shellcheck disable=SC1091
  (source "$1/testbed/config.sh" && printf '%s' "${!2}")
}

if [[ ! -f $payload ]]; then
  head -c "$size" /dev/urandom >"$payload.tmp" && mv "$payload.tmp" "$payload"
fi

nsis_package() { # APP BULK OUT PKI_DIR: the benchmark's package, signed with that PKI's test cert
  rm -f "$3" "$3.unsigned.exe"
  makensis -V2 -INPUTCHARSET UTF8 -DVERSION=2.0.0 "-DAPP_EXE=$1" "-DBULK=$2" \
    "-DOUT_FILE=$3.unsigned.exe" "$src/bench/transfer/big_package.nsi" >/dev/null
  osslsigncode sign -certs "$4/trusted.crt" -key "$4/trusted.key" -h sha256 \
    -in "$3.unsigned.exe" -out "$3" >/dev/null
  rm -f "$3.unsigned.exe"
}

make_package() { # SIDE: a package of --size-mib MiB in all, signed with that build's test cert
  local b=${side_build[$1]} out=$work/package-$1.exe pki app bulk=$work/bulk-$1.bin overhead
  pki=$(config_value "$b" LUM_PKI_DIR)
  app=$(config_value "$b" LUM_ARTIFACT_DIR)/lumora.exe
  [[ -f $app ]] || { echo "run.sh: $app missing: build lum_demo_app in $b" >&2; exit 2; }
  if [[ ! -f $out || $out -ot $payload || $out -ot $pki/trusted.key || $out -ot $app ||
    $(stat -c %s "$out") -ne $size ]]; then
    # The package stores its files uncompressed: a first build tells the overhead (the
    # application, NSIS, the signature), a second one fills up to the size.
    : >"$bulk"
    nsis_package "$app" "$bulk" "$out" "$pki"
    overhead=$(stat -c %s "$out")
    ((overhead < size)) || { echo "run.sh: --size-mib $size_mib is below the package's overhead" >&2; exit 2; }
    head -c "$((size - overhead))" "$payload" >"$bulk"
    nsis_package "$app" "$bulk" "$out" "$pki"
    rm -f "$bulk"
  fi
  side_pkg[$1]=$out
}

make_far_cert() { # SIDE: a server certificate for the far address from that build's test root
  local b=${side_build[$1]} pki crl_port name=$work/far-$1
  pki=$(config_value "$b" LUM_PKI_DIR)
  crl_port=$(config_value "$b" LUM_CRL_PORT)
  # Wine's name check ignores IP entries, so the address goes in as a DNS name too; the
  # client checks revocation at the list the test bed serves on its own loopback.
  printf '%s\n' "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature,keyEncipherment" \
    "extendedKeyUsage=serverAuth" "subjectAltName=IP:$server_ip,DNS:$server_ip" \
    "crlDistributionPoints=URI:http://127.0.0.1:$crl_port/crl/root.crl" >"$name.ext"
  openssl req -newkey rsa:2048 -nodes -keyout "$name.key" -out "$name.csr" -subj "/CN=$server_ip" 2>/dev/null
  openssl x509 -req -in "$name.csr" -CA "$pki/ca.crt" -CAkey "$pki/ca.key" -CAcreateserial \
    -CAserial "$name.srl" -out "$name.leaf.crt" -days 2 -sha256 -extfile "$name.ext" 2>/dev/null
  cat "$name.leaf.crt" "$pki/ca.crt" >"$name.crt"
  rm -f "$name.csr" "$name.ext" "$name.leaf.crt" "$name.srl"
  side_ca[$1]=$pki/ca.crt
}

far() { # far SIDE METHOD PATH [JSON]: the far release server's control API, from its namespace
  local args=(-sS --fail --max-time 20 --cacert "${side_ca[$1]}" -X "$2")
  [[ $# -ge 4 ]] && args+=(-H 'Content-Type: application/json' -d "$4")
  netlink_in "${side_server[$1]}" curl "${args[@]}" "https://$server_ip:$far_port/_control/$3"
}

far_start() { # SIDE CONGESTION: the far release server, its connections on that congestion control
  local side=$1
  # The namespace's default (net.ipv4.tcp_congestion_control) can only be set there to an
  # algorithm of the machine's tcp_allowed_congestion_control; root can set any on the socket.
  # nsenter itself in the background (not a function's subshell), so that $! is the server's.
  nsenter "--target=${side_server[$side]}" --net -- timeout "$life" python3 "$src/tools/release_server/release_server.py" \
    --host "$server_ip" --port "$far_port" --cert "$work/far-$side.crt" --key "$work/far-$side.key" \
    --congestion "$2" --control --root "$work" </dev/null >>"$work/far-server-$side.log" 2>&1 &
  side_far[$side]=$!
  far_pids+=("${side_far[$side]}")
  for _ in $(seq 100); do
    far "$side" GET ping >/dev/null 2>&1 && return 0
    kill -0 "${side_far[$side]}" 2>/dev/null || break
    sleep 0.1
  done
  cat "$work/far-server-$side.log" >&2
  exit 1
}

far_stop() { # SIDE
  local pid=${side_far[$1]:-}
  [[ -n $pid ]] || return 0
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  side_far[$1]=
}

setup_side() { # SIDE
  local side=$1 b=${side_build[$1]} tb=$work/testbed-$1 exe
  exe=$b/app/LumoraWebSetup.exe
  [[ -f $exe && -f $b/testbed/config.sh ]] || { echo "run.sh: $b is not a built tree ($exe)" >&2; exit 2; }
  # The program as it is now, so that a rebuild during the run does not change it.
  mkdir -p "$work/program-$side"
  cp -p "$exe" "$work/program-$side/LumoraWebSetup.exe"
  make_package "$side"
  make_far_cert "$side"
  # The build's own test bed settings, with this tree's scripts and release server, in a
  # network namespace of its own (the client's), without the window's helpers.
  mkdir -p "$tb"
  printf "source '%s'\nLUM_SOURCE_DIR='%s'\nLUM_TESTBED_NETNS=1\nLUM_DESKTOP_KEEPER=''\nLUM_FONT_TOOL=''\nLUM_HTTPS_RECORDER=''\n" \
    "$b/testbed/config.sh" "$src" >"$tb/config.sh"
  side_tb[$side]=$tb
  echo "starting the $side product's test bed ($tb)"
  started_tbs+=("$tb")
  bash "$src/tools/testbed/testbed.sh" start "$tb" >"$work/testbed-$side.log" 2>&1 ||
    { cat "$work/testbed-$side.log" >&2; exit 1; }
  side_client[$side]=$(cat "$tb/netns.pid")
  side_server[$side]=$(netlink_make_ns "$life")
  holders+=("${side_server[$side]}")
  netlink_add_tun "${side_client[$side]}" lumc "$client_ip" "$server_ip"
  netlink_add_tun "${side_server[$side]}" lums "$server_ip" "$client_ip"
  far_start "$side" cubic
  # The manifest, signed with the build's manifest key, names the far server's package.
  netlink_in "${side_client[$side]}" python3 "$src/tools/demo/serve_demo.py" \
    --port "$(config_value "$b" LUM_DEV_PORT)" --ca "${side_ca[$side]}" --package "${side_pkg[$side]}" \
    --package-url "$url" >/dev/null
}

for side in "${sides[@]}"; do setup_side "$side"; done
ref=${sides[0]}  # curl and aria2c run beside this build's product, against its far server

# ---- One download over the link ----
product_run() { # SIDE: a silent installation; the caller times its download at the far server
  local side=$1 tb=${side_tb[$1]} log rc=0 before
  log="${side_tb[$1]}/prefix/drive_c/Program Files/LUMWebBootstrapper/installer.log"
  before=0
  [[ -f $log ]] && before=$(wc -l <"$log")
  rm -rf "$tb/prefix/drive_c/LumBench"
  rm -f "$tb/prefix/drive_c/Program Files/LUMWebBootstrapper/VIVOV3_Setup_x64.exe"*
  timeout --foreground "$limit" bash "$src/tools/testbed/wine-run.sh" "$tb" "$work/program-$side/LumoraWebSetup.exe" \
    /S /NODESKTOPSHORTCUT /NOSTARTMENUSHORTCUT "/D=$install_dir" >>"$work/wine-$side.log" 2>&1 || rc=$?
  tail -n +"$((before + 1))" "$log" 2>/dev/null >"$work/last-$side.log" || true
  bash "$src/tools/testbed/wine-run.sh" "$tb" reg delete "$uninstall_key" /reg:64 /f >/dev/null 2>&1 || true
  rm -rf "$tb/prefix/drive_c/LumBench"
  if ((rc != 0)) || ! grep -q '\[complete\]' "$work/last-$side.log"; then
    echo "    the $side product's installation did not complete (exit $rc; see $work/last-$side.log)" >&2
    return 1
  fi
}

measure() { # CASE_LABEL RTT_MS LOSS_PERCENT SEED TOOL CONGESTION
  local label=$1 rtt=$2 loss=$3 seed=$4 tool=$5 cc=$6 side ok=1 line stats
  side=$ref
  [[ $tool == new || $tool == today ]] && side=$tool
  far "$side" POST reset '{}' >/dev/null
  # As a CDN serves a file: ranges offered, with a strong validator and a date.
  far "$side" POST routes "{\"path\": \"$route\", \"method\": \"GET\", \"file\": \"${side_pkg[$side]}\",
    \"mark_end\": true, \"etag\": \"\\\"bench-$side-$size\\\"\",
    \"headers\": {\"Accept-Ranges\": \"bytes\", \"Last-Modified\": \"Thu, 10 Dec 2026 00:00:00 GMT\"}}" >/dev/null
  stats=$work/link-stats.json
  rm -f "$stats"
  netlink_start "${side_client[$side]}" lumc "${side_server[$side]}" lums "$work/link.ready" \
    --rtt-ms "$rtt" --loss "$(awk -v p="$loss" 'BEGIN {print p / 100}')" --rate-mbit "$rate" \
    --queue-ms "$queue_ms" --seed "$seed" --time-limit "$((limit + 120))" --stats "$stats"
  link_pid=$NETLINK_PID
  case $tool in
    new | today) product_run "$tool" || ok=0 ;;
    curl)
      rm -f "$work/dl-curl"
      netlink_in "${side_client[$side]}" timeout --foreground "$limit" curl -sS --fail --cacert "${side_ca[$side]}" \
        -o "$work/dl-curl" "$url" || ok=0
      cmp -s "$work/dl-curl" "${side_pkg[$side]}" || ok=0 ;;
    aria2c)
      rm -f "$work/dl-aria2c"
      # -k1M: aria2c splits only pieces of at least --min-split-size (20 MiB by default).
      netlink_in "${side_client[$side]}" timeout --foreground "$limit" aria2c -x4 -s4 -k1M \
        --ca-certificate="${side_ca[$side]}" --dir="$work" --out=dl-aria2c --allow-overwrite=true \
        --auto-file-renaming=false --file-allocation=none --console-log-level=warn \
        --summary-interval=0 --download-result=hide "$url" >/dev/null || ok=0
      cmp -s "$work/dl-aria2c" "${side_pkg[$side]}" || ok=0 ;;
  esac
  # The link stays up until the server has seen the client acknowledge every response it sent
  # whole (the last acknowledgements are still on their way when a client ends).
  for _ in $(seq 100); do
    far "$side" GET requests >"$work/requests.json"
    python3 "$here/figures.py" settled "$work/requests.json" "$route" && break
    sleep 0.2
  done
  netlink_stop "$link_pid"
  link_pid=
  line=$(python3 "$here/figures.py" download "$work/requests.json" "$route" "$(stat -c %s "${side_pkg[$side]}")" "$cc")
  local seconds
  seconds=$(sed -n 's/^seconds=\([^ ]*\).*/\1/p' <<<"$line")
  ((ok)) || seconds=-
  echo "$label $seed $tool $seconds $line $(python3 "$here/figures.py" link "$stats")" >>"$results"
  echo "  $label seed $seed $tool: $seconds s ($line)"
  rm -f "$work"/dl-*
}

tools=("${sides[@]}" curl aria2c)
load_start=$(cut -d' ' -f1-3 /proc/loadavg)
for spec in $cases_arg; do
  IFS=: read -r rtt loss cc <<<"$spec"
  [[ $rtt =~ ^[0-9]+$ && $loss =~ ^[0-9.]+$ && $cc =~ ^[a-z]+$ ]] || { echo "run.sh: bad case $spec" >&2; exit 2; }
  label="${rtt}ms/${loss}%/$cc"
  for side in "${sides[@]}"; do
    far_stop "$side"
    far_start "$side" "$cc"
  done
  echo "case $label"
  for ((s = 1; s <= seeds; s++)); do
    # Rotating order, so that no tool always runs first or last under the machine's load.
    for ((i = 0; i < ${#tools[@]}; i++)); do
      measure "$label" "$rtt" "$loss" "$s" "${tools[(i + s) % ${#tools[@]}]}" "$cc"
    done
  done
done
load_end=$(cut -d' ' -f1-3 /proc/loadavg)

describe_build() { # the commit a build tree was built from
  local dir=$1 tree head product dirty
  tree=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$dir/CMakeCache.txt")
  git -C "$tree" rev-parse --git-dir >/dev/null 2>&1 || { echo "source $tree, commit unknown"; return; }
  head=$(git -C "$tree" rev-parse --short HEAD)
  product=$(git -C "$tree" log -1 --format=%h -- app core manifest net system ui)
  dirty=$(git -C "$tree" status --porcelain -- app core manifest net system ui | head -1)
  [[ -n $product && $product != "$head" ]] && head+=" (product code as of $product)"
  echo "$head${dirty:+, with uncommitted product changes}"
}
echo
echo "Download over the emulated link, seconds (median of $seeds loss seeds): from the head of the first"
echo "package request read by the far server to the last byte acknowledged by the client's TCP;"
echo "package $(stat -c %s "${side_pkg[$ref]}") bytes; bottleneck $rate Mbit/s each way, drop-tail queue $queue_ms ms;"
echo "loss each way; case = round trip / loss / the server's congestion control. ! = a failed run each"
echo
python3 "$here/figures.py" table "$results" "${tools[@]}"
echo
built() { date -u -r "$work/program-$1/LumoraWebSetup.exe" '+%F %T UTC'; }
if [[ -n $build ]]; then echo "new:   $build, $(describe_build "$build") (program linked $(built new))"; fi
if [[ -n $baseline ]]; then echo "today: $baseline, $(describe_build "$baseline") (program linked $(built today))"; fi
echo "curl: $(curl --version | head -1 | cut -d' ' -f1-2); aria2c: $(aria2c --version | head -1)"
echo "machine: $(nproc) cores, $(uname -sr), $(wine --version 2>/dev/null); load average $load_start before, $load_end after"
echo "raw figures: $results"
exit
}
