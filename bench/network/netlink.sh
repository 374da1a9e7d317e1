# shellcheck shell=bash
# Network namespaces joined by the user-space link (link.py); sourced by run.sh and check-link.sh.
#
# A namespace is held by a process (sleep) whose id the caller keeps; killing it ends the
# namespace and the TUN device in it. Everything here needs root (CAP_NET_ADMIN, setns).

NETLINK_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# Prints the id of a new namespace's holder, which lives at most LIMIT seconds.
netlink_make_ns() { # LIMIT
  local pid own
  own=$(readlink /proc/self/ns/net)
  unshare --net sleep "$1" </dev/null >/dev/null 2>&1 &
  pid=$!
  # unshare makes the namespace just before it becomes sleep.
  for _ in $(seq 100); do
    [[ -e /proc/$pid/ns/net && $(readlink "/proc/$pid/ns/net") != "$own" ]] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  [[ $(readlink "/proc/$pid/ns/net" 2>/dev/null) != "$own" ]] || { echo "netlink: no namespace made" >&2; return 1; }
  printf '%s' "$pid"
}

netlink_in() { # HOLDER_PID command...: runs the command in that process's network namespace
  local pid=$1
  shift
  nsenter "--target=$pid" --net -- "$@"
}

# A persistent TUN device DEV in the namespace with LOCAL as its address and PEER as the one
# address behind it; no IPv6 on it (nothing but our IPv4 crosses the link), loopback up, no
# TCP metrics kept between connections (a lossy run would otherwise hand its ssthresh on).
netlink_add_tun() { # HOLDER_PID DEV LOCAL PEER
  local pid=$1 dev=$2 local=$3 peer=$4
  netlink_in "$pid" bash -c "set -e
    ip link set lo up
    ip tuntap add dev $dev mode tun
    sysctl -qw net.ipv6.conf.$dev.disable_ipv6=1
    sysctl -qw net.ipv4.tcp_no_metrics_save=1
    ip addr add $local peer $peer dev $dev
    ip link set $dev up"
}

# Starts link.py between two namespaces' devices and waits until it has attached both; sets
# NETLINK_PID. Extra arguments go to link.py (--rtt-ms, --loss, --rate-mbit, --seed, ...).
netlink_start() { # CLIENT_PID CLIENT_DEV SERVER_PID SERVER_DEV READY_FILE link.py-args...
  local client=$1 client_dev=$2 server=$3 server_dev=$4 ready=$5
  shift 5
  rm -f "$ready"
  python3 "$NETLINK_DIR/link.py" --client-netns "/proc/$client/ns/net" --client-dev "$client_dev" \
    --server-netns "/proc/$server/ns/net" --server-dev "$server_dev" --ready "$ready" "$@" \
    </dev/null &
  NETLINK_PID=$!
  for _ in $(seq 200); do
    [[ -f $ready ]] && return 0
    kill -0 "$NETLINK_PID" 2>/dev/null || break
    sleep 0.05
  done
  echo "netlink: the link did not start" >&2
  return 1
}

# Ends the link (it writes its counters on the way out); bounded.
netlink_stop() { # PID
  local pid=$1
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
