#!/usr/bin/env bash
# Starts and stops one test bed: Xvfb, a fresh Wine prefix that trusts the test root CA, the
# local release server (which signs manifests with the test PKI's keys and serves its revocation
# lists) and a forward proxy (squid); with LUM_TESTBED_NETNS=1 in its config.sh the prefix, the
# server and the proxy live in a network namespace of their own (netns.sh), so that test beds can
# run side by side.
#   testbed.sh start TESTBED_DIR     (reads TESTBED_DIR/config.sh written by CMake)
#   testbed.sh stop TESTBED_DIR
#   testbed.sh restart TESTBED_DIR   (inside its namespace: the prefix's processes start again)
#   testbed.sh running TESTBED_DIR   (succeeds when its prefix, Xvfb and server are all there)
set -euo pipefail
action=$1
testbed=$(realpath -m "$2")
mkdir -p "$testbed"
# shellcheck disable=SC1091
source "$testbed/config.sh"
# shellcheck disable=SC1091
source "$(dirname "${BASH_SOURCE[0]}")/netns.sh"
# shellcheck disable=SC1091
source "$(dirname "${BASH_SOURCE[0]}")/wine-layout.sh"
export WINEPREFIX=$testbed/prefix WINEDEBUG=-all WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d"

winpath() { # Unix absolute path -> the same file through Wine's Z: drive
  local p
  p=$(realpath -m "$1")
  printf 'Z:%s' "${p//\//\\}"
}

stop_pidfile() {
  local f=$1
  if [[ -f $f ]]; then
    local pid
    pid=$(cat "$f")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
    rm -f "$f"
  fi
}

stop() {
  stop_pidfile "$testbed/server.pid"
  stop_pidfile "$testbed/proxy.pid"
  if [[ -d $WINEPREFIX ]]; then
    # The prefix's wineserver is found from inside its namespace (with a user namespace the
    # server's folder is named after the user id seen there).
    NETNS_ENTER=()
    netns_enter_command "$testbed" 2>/dev/null || NETNS_ENTER=()
    "${NETNS_ENTER[@]}" wineserver -k 2>/dev/null || true
  fi
  netns_destroy "$testbed"
  stop_pidfile "$testbed/xvfb.pid"
  rm -f "$testbed/display" "$testbed/env" "$testbed/proxy.address"
}

start_xvfb() {
  local n
  for n in $(seq 91 140); do
    [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >"$testbed/xvfb.log" 2>&1 &
    local pid=$!
    echo "$pid" >"$testbed/xvfb.pid"
    for _ in $(seq 100); do
      # Ours only when its lock names it: test beds starting side by side may race for a number.
      if [[ -e /tmp/.X11-unix/X$n && $(tr -dc 0-9 </tmp/.X$n-lock 2>/dev/null) == "$pid" ]]; then
        echo ":$n" >"$testbed/display"
        return 0
      fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    rm -f "$testbed/xvfb.pid"
  done
  echo "testbed: could not start Xvfb" >&2
  return 1
}

start_server() {
  python3 "$LUM_SOURCE_DIR/tools/release_server/release_server.py" \
    --port "$LUM_DEV_PORT" --cert "$LUM_PKI_DIR/tls.crt" --key "$LUM_PKI_DIR/tls.key" \
    --untrusted-cert "$LUM_PKI_DIR/untrusted-tls.crt" --untrusted-key "$LUM_PKI_DIR/untrusted-tls.key" \
    --root "$testbed/served" --control --signing-keys "$LUM_PKI_DIR" \
    ${LUM_CRL_PORT:+--crl-port "$LUM_CRL_PORT" --crl-dir "$LUM_PKI_DIR/crl"} \
    </dev/null >"$testbed/server.log" 2>&1 &
  echo $! >"$testbed/server.pid"
  for _ in $(seq 100); do
    if python3 - "$LUM_DEV_PORT" <<'PY' 2>/dev/null; then return 0; fi
import socket, sys
socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=0.2).close()
PY
    kill -0 "$(cat "$testbed/server.pid")" 2>/dev/null || break
    sleep 0.1
  done
  echo "testbed: the release server did not start; see $testbed/server.log" >&2
  cat "$testbed/server.log" >&2 || true
  return 1
}

# squid as the network's one way out, for the tests of a named proxy: any CONNECT from the
# loopback is let through, nothing is cached, every request goes to proxy/access.log. It listens
# on 127.0.0.2, a name no URL of the tests uses (Wine's WinHTTP opens no tunnel when the proxy's
# host is written as the target's), on the port after the server's in a namespace of the test
# bed's own, else on any free one.
start_proxy() {
  local dir=$testbed/proxy host=127.0.0.2 port
  mkdir -p "$dir"
  chmod 777 "$dir"  # squid started as root works as the proxy user
  if [[ ${LUM_TESTBED_NETNS:-0} == 1 ]]; then
    port=$((LUM_DEV_PORT + 1))
  else
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.2", 0)); print(s.getsockname()[1])')
  fi
  cat >"$dir/squid.conf" <<CONF
http_port $host:$port
acl loopback src 127.0.0.0/8
http_access allow loopback
http_access deny all
cache deny all
cache_mem 8 MB
pid_filename $dir/squid.pid
access_log stdio:$dir/access.log
cache_log $dir/cache.log
coredump_dir $dir
netdb_filename none
pinger_enable off
shutdown_lifetime 0 seconds
CONF
  : >"$dir/access.log"
  chmod 666 "$dir/access.log"
  squid -N -f "$dir/squid.conf" </dev/null >"$dir/squid.out" 2>&1 &
  echo $! >"$testbed/proxy.pid"
  for _ in $(seq 100); do
    if python3 - "$host" "$port" <<'PY' 2>/dev/null; then echo "$host:$port" >"$testbed/proxy.address"; return 0; fi
import socket, sys
socket.create_connection((sys.argv[1], int(sys.argv[2])), timeout=0.2).close()
PY
    kill -0 "$(cat "$testbed/proxy.pid")" 2>/dev/null || break
    sleep 0.1
  done
  echo "testbed: squid did not start; see $dir/cache.log" >&2
  cat "$dir/squid.out" "$dir/cache.log" >&2 2>/dev/null || true
  return 1
}

start() {
  stop
  rm -rf "$WINEPREFIX" "$testbed/served" "$testbed/scratch" "$testbed/proxy"
  mkdir -p "$testbed/served" "$testbed/scratch"
  start_xvfb
  NETNS_ENTER=()
  if [[ ${LUM_TESTBED_NETNS:-0} == 1 ]]; then
    netns_create "$testbed" || { echo "testbed: could not make a network namespace" >&2; return 1; }
  fi
  # Everything of the prefix starts inside the namespace: the processes that Wine starts later
  # (services, the desktop shell, what the shell launches) inherit it, and the fixed address
  # layout, from these.
  "${NETNS_ENTER[@]}" "${WINE_LAYOUT[@]}" bash "${BASH_SOURCE[0]}" boot "$testbed"
}

# Ends every process of the prefix and starts its persistent wineserver again.
restart_wineserver() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wineserver -p >/dev/null 2>&1 </dev/null
}

# The desktop keeper, first of the prefix's programs, and with it the desktop shell, whose
# automation objects the programs under test reach (the application's launch). Under load an
# explorer sometimes comes up that never registers them (REGDB_E_CLASSNOTREG for good), which
# the keeper tells within 10 s (shell.ready); the prefix's processes are then started again, at
# most five times (one start in ten came up so on a busy machine), so that no test runs against
# a shell that cannot answer.
start_shell() {
  local attempt said
  for attempt in 1 2 3 4 5; do
    rm -f "$testbed/shell.ready"
    # A session of its own: whoever started the test bed or restarts its prefix may end theirs.
    setsid "${WINE_LAYOUT[@]}" wine "$LUM_DESKTOP_KEEPER" "$(winpath "$testbed/shell.ready")" \
      </dev/null >>"$testbed/wine.log" 2>&1 &
    for _ in $(seq 600); do
      [[ -s $testbed/shell.ready ]] && break
      sleep 0.1
    done
    said=$(tr -d '\r' <"$testbed/shell.ready" 2>/dev/null || true)
    [[ $said == ready ]] && return 0
    echo "testbed: start $attempt: the desktop shell does not answer ($said); the prefix's" \
      "processes start again" | tee -a "$testbed/wine.log" >&2
    restart_wineserver
  done
  return 1
}

boot() {
  export DISPLAY
  DISPLAY=$(cat "$testbed/display")
  mkdir -p "$WINEPREFIX"
  # One persistent wineserver for the run: faster starts. It fails (2) when a server already runs
  # for the new prefix: a Wine program of an earlier run that came up after that run's stop.
  if ! wineserver -p >/dev/null 2>&1 </dev/null; then
    echo "testbed: wineserver -p failed: a wineserver already runs for the new prefix" >&2
    return 1
  fi
  if ! wineboot -i </dev/null >"$testbed/wine.log" 2>&1; then
    echo "testbed: wineboot -i failed; see $testbed/wine.log" >&2
    return 1
  fi
  # The first boot of a fresh prefix leaves a second services.exe behind, after which no service
  # starts (no RpcSs: SHGetKnownFolderPath waits 10 s, out-of-process COM such as the desktop
  # shell's objects fails): restart the prefix's processes once.
  restart_wineserver
  wineboot </dev/null >>"$testbed/wine.log" 2>&1
  # Before any other program: the shell that starts with it stays for the whole run.
  if [[ -n ${LUM_DESKTOP_KEEPER:-} ]] && ! start_shell; then
    echo "testbed: the desktop shell did not answer after five starts; see $testbed/wine.log" >&2
    return 1
  fi
  # Trust the test root in the machine Root store so WinHTTP and WinVerifyTrust accept it.
  # (Wine's helper processes outlive these calls: keep them off ctest's output pipes.)
  if ! wine "$LUM_TRUST_TOOL" "$(winpath "$LUM_PKI_DIR/ca.der")" </dev/null >>"$testbed/wine.log" 2>&1; then
    echo "testbed: could not trust the test root CA; see $testbed/wine.log" >&2
    return 1
  fi
  # One import, one Wine process: a new Wine 8 prefix reports Windows 7 and the bootstrapper
  # refuses anything before Windows 10; 96 DPI unless a test changes it; windows that no window
  # manager manages (Xvfb has none, and Wine waits 2 s for one to withdraw each managed window
  # that is hidden or destroyed); in a lane, the https handler is the UI driver's URL recorder,
  # which logs into the driver's scratch folder (tests/ui/driver.py), for the whole run.
  {
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine]\r\n"Version"="win10"\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"LogPixels"=dword:00000060\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n\r\n'
    if [[ -n ${LUM_HTTPS_RECORDER:-} ]]; then
      local command
      command="\"$(winpath "$LUM_HTTPS_RECORDER")\" \"%1\" \"$(winpath "$testbed/scratch/ui-driver/opened.log")\""
      command=${command//\\/\\\\}
      command=${command//\"/\\\"}
      printf '[HKEY_LOCAL_MACHINE\\Software\\Classes\\https\\shell\\open\\command]\r\n@="%s"\r\n\r\n' \
        "$command"
    fi
  } >"$testbed/settings.reg"
  local settings
  settings=$(winpath "$testbed/settings.reg")
  if ! wine regedit /S "$settings" </dev/null >>"$testbed/wine.log" 2>&1; then
    echo "testbed: the prefix's settings were not imported; see $testbed/wine.log" >&2
    return 1
  fi
  if [[ -n ${LUM_FONT_TOOL:-} ]]; then bash "$LUM_FONT_TOOL" "$WINEPREFIX" "$testbed" </dev/null >>"$testbed/wine.log" 2>&1; fi
  start_server
  start_proxy
  cat >"$testbed/env" <<ENV
export LUM_TEST_DATA='$(winpath "$LUM_SOURCE_DIR/tests/data")'
export LUM_TEST_ARTIFACTS='$(winpath "$LUM_ARTIFACT_DIR")'
export LUM_TEST_SCRATCH='$(winpath "$testbed/scratch")'
export LUM_TEST_SERVED='$(winpath "$testbed/served")'
export LUM_TEST_SERVER_PORT='$LUM_DEV_PORT'
export LUM_TEST_PROXY='$(cat "$testbed/proxy.address")'
export LUM_TEST_PROXY_LOG='$(winpath "$testbed/proxy/access.log")'
ENV
  local network="machine loopback"
  [[ ${LUM_TESTBED_NETNS:-0} == 1 ]] && network="own network namespace"
  echo "testbed: ready (prefix $WINEPREFIX, display $DISPLAY, server port $LUM_DEV_PORT, proxy $(cat "$testbed/proxy.address"), $network)"
}

alive() { [[ -f $1 ]] && kill -0 "$(cat "$1")" 2>/dev/null; }

case $action in
  start) start ;;
  boot) boot ;;  # the second half of start, inside the namespace
  stop) stop; echo "testbed: stopped" ;;
  restart)
    # Inside the test bed's namespace (the UI driver's, after a change that takes a new
    # wineserver): every process of the prefix ends, and the desktop keeper and shell start again.
    export DISPLAY
    DISPLAY=$(cat "$testbed/display")
    restart_wineserver
    [[ -z ${LUM_DESKTOP_KEEPER:-} ]] || start_shell
    ;;
  running)
    [[ -d $WINEPREFIX ]] && alive "$testbed/xvfb.pid" && alive "$testbed/server.pid" &&
      alive "$testbed/proxy.pid" &&
      { [[ ${LUM_TESTBED_NETNS:-0} != 1 ]] || netns_holder "$testbed" >/dev/null; } ;;
  *) echo "usage: testbed.sh start|stop|restart|running TESTBED_DIR" >&2; exit 2 ;;
esac
