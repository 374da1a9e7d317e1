# Network namespace of a test bed (sourced by testbed.sh, wine-run.sh and in-testbed.sh).
#
# A test bed whose config.sh sets LUM_TESTBED_NETNS=1 gets a loopback of its own: its release
# server listens on LUM_DEV_PORT there, which is the port the programs under test have compiled
# in (manifest, metrics and legal URLs). So several test beds run side by side, each program
# reaching its own server, and none of them takes that port on the machine's loopback.
# A process that holds the namespace (sleep) keeps it; its id is in TESTBED/netns.pid.

# Succeeds when this machine lets us make a network namespace (as root, or through a user
# namespace).
netns_available() {
  unshare --net true 2>/dev/null || unshare --user --map-root-user --net true 2>/dev/null
}

netns_holder() { # TESTBED: prints the holder's id; fails when there is no live holder
  local f=$1/netns.pid pid
  [[ -f $f ]] || return 1
  pid=$(cat "$f")
  [[ -e /proc/$pid/ns/net ]] || return 1
  printf '%s' "$pid"
}

# Sets NETNS_ENTER to the command prefix that runs a program inside the test bed's namespace:
# empty when the test bed has none or this process is already inside. Fails when the test bed
# should have one and it is gone (not started, or stopped).
netns_enter_command() { # TESTBED
  NETNS_ENTER=()
  [[ ${LUM_TESTBED_NETNS:-0} == 1 ]] || return 0
  local pid
  pid=$(netns_holder "$1") || {
    echo "test bed $1: its network namespace is not there (testbed.sh start)" >&2
    return 1
  }
  [[ $(readlink "/proc/$pid/ns/net") == "$(readlink /proc/self/ns/net)" ]] && return 0
  if [[ $(readlink "/proc/$pid/ns/user") == "$(readlink /proc/self/ns/user)" ]]; then
    NETNS_ENTER=(nsenter "--target=$pid" --net --)
  else
    NETNS_ENTER=(nsenter "--target=$pid" --user --net --preserve-credentials --)
  fi
}

netns_create() { # TESTBED
  local testbed=$1 pid own
  own=$(readlink /proc/self/ns/net)
  if unshare --net true 2>/dev/null; then
    unshare --net sleep infinity </dev/null >/dev/null 2>&1 &
  else
    unshare --user --map-root-user --net sleep infinity </dev/null >/dev/null 2>&1 &
  fi
  pid=$!
  echo "$pid" >"$testbed/netns.pid"
  # unshare makes the namespace just before it becomes sleep.
  for _ in $(seq 100); do
    [[ -e /proc/$pid/ns/net && $(readlink "/proc/$pid/ns/net") != "$own" ]] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  netns_enter_command "$testbed" || return 1
  # A new namespace's loopback is down; bring it up without needing iproute2.
  "${NETNS_ENTER[@]}" python3 - <<'PY'
import fcntl, socket, struct
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
request = struct.pack("16sh", b"lo", 0)
flags = struct.unpack("16sh", fcntl.ioctl(s, 0x8913, request))[1]  # SIOCGIFFLAGS
fcntl.ioctl(s, 0x8914, struct.pack("16sh", b"lo", flags | 0x1))  # SIOCSIFFLAGS, IFF_UP
PY
}

netns_destroy() { # TESTBED
  local f=$1/netns.pid
  [[ -f $f ]] || return 0
  kill "$(cat "$f")" 2>/dev/null || true
  rm -f "$f"
}
