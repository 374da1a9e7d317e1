#!/usr/bin/env bash
# The two clean release builds of the release checks, made in the background while the Windows
# suites run (at a low priority: they use what CPU the suites leave), and waited for by the
# checks that need them:
#
#   tests/release/release-builds.sh start JOBS SIGNING_DIR CHECK_DIR
#   tests/release/release-builds.sh wait JOBS build|reproducible
#
# start returns at once. In the background: `signing-test.sh build SIGNING_DIR` (the build the
# signing cases re-sign), then `check-reproducible.sh CHECK_DIR --first SIGNING_DIR` (one more
# clean build, compared with the first). wait prints what the step printed and ends with its exit
# status. A job of an earlier start that still runs is ended first.
set -euo pipefail
action=$1
jobs=$(mkdir -p "$2" && cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)

step() { # NAME COMMAND...: runs it, then records its exit status
  local name=$1 status=0
  shift
  "$@" >"$jobs/$name.log" 2>&1 || status=$?
  echo "$status" >"$jobs/$name.status"
}

case $action in
  start)
    signing=$3 check=$4
    if [[ -f $jobs/pid ]]; then
      kill -- "-$(cat "$jobs/pid")" 2>/dev/null || true
    fi
    rm -f "$jobs"/*.status "$jobs"/*.log "$jobs/pid"
    setsid nice -n 10 bash "$0" run "$jobs" "$signing" "$check" </dev/null >/dev/null 2>&1 &
    echo $! >"$jobs/pid"
    echo "release builds started in the background ($jobs)"
    ;;
  run)
    step build bash "$here/signing-test.sh" build "$3"
    if [[ $(cat "$jobs/build.status") == 0 ]]; then
      step reproducible bash "$source_dir/tools/release/check-reproducible.sh" "$4" --first "$3"
    else
      echo "no first release build to compare with" >"$jobs/reproducible.log"
      echo 1 >"$jobs/reproducible.status"
    fi
    ;;
  wait)
    name=$3
    [[ -f $jobs/pid ]] || { echo "no release builds were started in $jobs" >&2; exit 1; }
    while [[ ! -f $jobs/$name.status ]]; do
      if ! kill -0 "$(cat "$jobs/pid")" 2>/dev/null; then
        [[ -f $jobs/$name.status ]] && break
        echo "the background release builds ended without a result for $name" >&2
        exit 1
      fi
      sleep 1
    done
    cat "$jobs/$name.log"
    exit "$(cat "$jobs/$name.status")"
    ;;
  *)
    echo "usage: release-builds.sh start JOBS SIGNING_DIR CHECK_DIR | wait JOBS NAME" >&2
    exit 2
    ;;
esac
