#!/usr/bin/env bash
# Two clean release builds, in different folders, must give the same bytes, unsigned and signed
# with the same (test) certificate and no time stamp; prints their size and digests.
#   tools/release/check-reproducible.sh WORK_DIR
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mkdir -p "$1" && cd "$1" && pwd)
urls=(--manifest-url https://update.example.com/storage/manifest.json
  --metrics-url https://metrics.example.com/metrics/report/
  --legal-base-url https://www.example.com)
rm -rf "$work/pki"
for run in a b; do
  echo "--- clean release build $run"
  bash "$source_dir/tools/release/build-release.sh" "${urls[@]}" --test-cert "$work/pki" \
    --no-timestamp --build-dir "$work/build-$run" --out "$work/out-$run"
done
status=0
for name in LumoraWebSetup.unsigned.exe LumoraWebSetup.exe; do
  if cmp "$work/out-a/$name" "$work/out-b/$name"; then
    echo "identical: $name ($(stat -c %s "$work/out-a/$name") bytes)"
  else
    echo "DIFFERENT: $name" >&2
    status=1
  fi
done
osslsigncode verify -in "$work/out-a/LumoraWebSetup.exe" -CAfile "$work/pki/ca.crt" |
  grep -E '^(Signature verification|Number of verified)' || status=1
python3 "$source_dir/tools/release/image_size.py" "$work/out-a/LumoraWebSetup.exe" \
  "$source_dir"/resources/{hero.png,logo.png,app.ico} >/dev/null || {
  echo "above the size goals" >&2
  status=1
}
exit $status
