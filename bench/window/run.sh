#!/usr/bin/env bash
# Runs the window benchmarks of one build tree and prints their figures with ratios:
#   bench/window/run.sh BUILD_DIR [LAUNCHES] [STATUS_ROUNDS]
# Starts the build's test bed (Xvfb, Wine prefix, font, release server) if it is not running,
# and stops it at the end only if it started it here.
set -euo pipefail
build=$(realpath "${1:?usage: run.sh BUILD_DIR [LAUNCHES] [STATUS_ROUNDS]}")
launches=${2:-10}
rounds=${3:-5}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
testbed=$build/testbed
bench=$build/bench/window
for exe in window_start_bench bench_first_frame_real bench_first_frame_minimal window_status_bench; do
  [[ -f $bench/$exe.exe ]] || { echo "missing $bench/$exe.exe: build $build first" >&2; exit 1; }
done

started=0
if ! bash "$source_dir/tools/testbed/testbed.sh" running "$testbed"; then
  bash "$source_dir/tools/testbed/testbed.sh" start "$testbed" >/dev/null
  started=1
fi
cleanup() { if ((started)); then bash "$source_dir/tools/testbed/testbed.sh" stop "$testbed" >/dev/null; fi; }
trap cleanup EXIT

wine_run() { bash "$source_dir/tools/testbed/wine-run.sh" "$testbed" "$@"; }

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Wine: $(wine --version 2>/dev/null); display: Xvfb $(dpkg-query -W -f='${Version}' xvfb 2>/dev/null) on $(cat "$testbed/display"), 1280x1024x24, 96 DPI"
echo

echo "== 1. Process start to the first painted frame =="
wine_run "$bench/window_start_bench.exe" "$launches"
echo

echo "== 2. Window thread handling the statuses of a 256 MiB download =="
results=$(mktemp)
for ((i = 1; i <= rounds; i++)); do
  for mode in real minimal; do
    wine_run "$bench/window_status_bench.exe" "$mode" | tr -d '\r' | grep '^RESULT' >>"$results"
  done
done
python3 - "$results" "$rounds" <<'PY'
import statistics, sys
rows = [line.split()[1:] for line in open(sys.argv[1])]
rounds = sys.argv[2]
data = {}
for mode, scenario, messages, wall, cpu, status, paint, paints, posts in rows:
    data.setdefault((scenario, mode), []).append(
        dict(wall=float(wall), cpu=float(cpu), status=float(status), paint=float(paint),
             paints=float(paints), posts=float(posts), messages=int(messages)))
messages = rows[0][2]
print(f"{messages} statuses (256 MiB / 64 KiB reads + 2), {rounds} processes each, interleaved; medians")
print("  the real window's controller posts those that differ from the last; the minimal window is posted all")
print("  burst: posted as fast as the poster thread can; 112MB/s, 25MB/s: one per 64 KiB read at that rate (2.4 s, 10.7 s)")
fields = [("wall ms, first post -> last handled+painted", "wall"),
          ("window thread CPU ms (GetThreadTimes)", "cpu"),
          ("in status handler ms (sum)", "status"),
          ("in WM_PAINT ms (sum)", "paint"),
          ("paints", "paints"),
          ("WM_INSTALLER_STATUS posts", "posts")]
print(f"  {'':8} {'':44} {'real window':>12} {'minimal':>10} {'ratio':>8}")
for scenario in dict.fromkeys(row[1] for row in rows):
    real, base = data[(scenario, "real")], data[(scenario, "minimal")]
    for label, key in fields:
        a = statistics.median(r[key] for r in real)
        b = statistics.median(r[key] for r in base)
        ratio = f"{a / b:7.2f}x" if b else "     -"
        print(f"  {scenario:8} {label:44} {a:12.1f} {b:10.1f} {ratio:>8}")
    n = int(messages)
    for label, key in (("per status: wall us", "wall"), ("per status: window thread CPU us", "cpu"),
                       ("per status: status handler + paint us", None)):
        pick = (lambda r: r[key]) if key else (lambda r: r["status"] + r["paint"])
        a = statistics.median(pick(r) for r in real) * 1000 / n
        b = statistics.median(pick(r) for r in base) * 1000 / n
        ratio = f"{a / b:7.2f}x" if b else "     -"
        print(f"  {scenario:8} {label:44} {a:12.1f} {b:10.1f} {ratio:>8}")
    a = statistics.median((r["paint"] / r["paints"]) if r["paints"] else 0 for r in real)
    b = statistics.median((r["paint"] / r["paints"]) if r["paints"] else 0 for r in base)
    print(f"  {scenario:8} {'per paint ms':44} {a:12.2f} {b:10.2f} {a / b if b else 0:7.2f}x")
PY
rm -f "$results"
