#!/usr/bin/env bash
# Two clean release builds, in different folders, must give the same bytes, unsigned and signed
# with the same (test) certificate and no time stamp; prints their size and digests.
#   tools/release/check-reproducible.sh WORK_DIR [--first FIRST_DIR]
# --first: FIRST_DIR already holds the first clean build, made the same way (FIRST_DIR/out, signed
# with the test certificate in FIRST_DIR/pki, as `tests/release/signing-test.sh build` makes
# it), so only the second one is built here.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mkdir -p "$1" && cd "$1" && pwd)
urls=(--manifest-url https://update.example.com/storage/manifest.json
  --metrics-url https://metrics.example.com/metrics/report/
  --legal-base-url https://www.example.com)
if [[ ${2:-} == --first ]]; then
  first=$(cd "${3:?--first needs a folder}" && pwd)
  pki=$first/pki out_a=$first/out runs=(b)
  [[ -f $out_a/LumoraWebSetup.exe && -f $pki/ca.crt ]] || {
    echo "no release build in $first" >&2
    exit 1
  }
else
  pki=$work/pki out_a=$work/out-a runs=(a b)
  rm -rf "$pki"
fi
for run in "${runs[@]}"; do
  echo "--- clean release build $run"
  bash "$source_dir/tools/release/build-release.sh" "${urls[@]}" --test-cert "$pki" \
    --no-timestamp --build-dir "$work/build-$run" --out "$work/out-$run"
done
status=0
for name in LumoraWebSetup.unsigned.exe LumoraWebSetup.exe; do
  if cmp "$out_a/$name" "$work/out-b/$name"; then
    echo "identical: $name ($(stat -c %s "$out_a/$name") bytes)"
  else
    echo "DIFFERENT: $name" >&2
    status=1
  fi
done
osslsigncode verify -in "$out_a/LumoraWebSetup.exe" -CAfile "$pki/ca.crt" |
  grep -E '^(Signature verification|Number of verified)' || status=1
python3 "$source_dir/tools/release/image_size.py" "$out_a/LumoraWebSetup.exe" \
  "$source_dir"/resources/{hero.png,logo.png,app.ico} >/dev/null || {
  echo "above the size goals" >&2
  status=1
}
exit $status
