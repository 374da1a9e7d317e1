#!/usr/bin/env python3
"""A user-space network link between two network namespaces, for the network benchmark.

Forwards IPv4 packets between a TUN device in one namespace ("client") and one in another
("server"). Each direction has the same model of a path with one bottleneck:

  random loss (seeded) -> drop-tail queue -> bottleneck at RATE -> one-way DELAY -> other side

    link.py --client-netns /proc/PID/ns/net --client-dev lumc \\
            --server-netns /proc/PID/ns/net --server-dev lums \\
            --rtt-ms 200 --loss 0.01 --rate-mbit 20 --queue-ms 100 --seed 1 \\
            --time-limit 600 [--ready FILE] [--stats FILE]

The TUN devices must exist (persistent, `ip tuntap add`), with their addresses and routes; the
link attaches to them (so their addresses and the sockets bound to them outlive one run of the
link) and runs until SIGTERM/SIGINT or the time limit, then writes its counters as JSON.

The queue is a virtual one: a packet accepted at time t leaves the bottleneck when the packets
before it have and its own bits have gone out at RATE, and is delivered DELAY later; a packet
that would find more than QUEUE-MS of the rate's bytes waiting is dropped. Loss is drawn per
IPv4 packet from a generator seeded by (seed, direction), so a run's loss pattern depends only
on the seed and the order of the packets. Anything that is not IPv4 is dropped and draws
nothing.
"""

import argparse
import ctypes
import fcntl
import heapq
import json
import os
import random
import select
import signal
import struct
import sys
import time

TUNSETIFF = 0x400454CA
IFF_TUN = 0x0001
IFF_NO_PI = 0x1000
CLONE_NEWNET = 0x40000000
READ_BURST = 64  # packets read from one device per wake-up, so neither side starves the other
MAX_WAIT = 0.5  # seconds: the loop looks at the clock and the stop flag at least this often


def enter_netns(path):
    libc = ctypes.CDLL(None, use_errno=True)
    fd = os.open(path, os.O_RDONLY)
    try:
        if libc.setns(fd, CLONE_NEWNET) != 0:
            error = ctypes.get_errno()
            raise OSError(error, "setns: " + os.strerror(error), path)
    finally:
        os.close(fd)


def attach_tun(name):
    fd = os.open("/dev/net/tun", os.O_RDWR | os.O_NONBLOCK)
    fcntl.ioctl(fd, TUNSETIFF, struct.pack("16sH", name.encode(), IFF_TUN | IFF_NO_PI))
    return fd


class Direction:
    """One way of the link: its loss draws, its bottleneck and its counters."""

    def __init__(self, name, source, sink, args):
        self.name = name
        self.source = source
        self.sink = sink
        self.loss = args.loss
        self.delay = args.rtt_ms / 2000.0
        self.byte_time = 8.0 / (args.rate_mbit * 1e6)  # seconds per byte at the bottleneck
        self.queue_limit = args.queue_ms / 1000.0  # seconds of backlog the queue holds
        self.rng = random.Random("%d/%s" % (args.seed, name))
        self.busy_until = 0.0  # when the bottleneck has sent everything accepted so far
        self.counts = {"packets": 0, "bytes": 0, "lost": 0, "queue_drops": 0, "not_ipv4": 0,
                       "delivered": 0, "write_errors": 0, "late_ms_max": 0.0,
                       "late_over_1ms": 0, "backlog_ms_max": 0.0}

    def accept(self, packet, now, schedule):
        """Takes one packet read from the source; schedules its delivery unless dropped."""
        if not packet or packet[0] >> 4 != 4:
            self.counts["not_ipv4"] += 1
            return
        self.counts["packets"] += 1
        self.counts["bytes"] += len(packet)
        if self.loss > 0 and self.rng.random() < self.loss:
            self.counts["lost"] += 1
            return
        backlog = max(0.0, self.busy_until - now)
        if backlog + len(packet) * self.byte_time > self.queue_limit:
            self.counts["queue_drops"] += 1
            return
        self.counts["backlog_ms_max"] = max(self.counts["backlog_ms_max"], backlog * 1000)
        self.busy_until = max(now, self.busy_until) + len(packet) * self.byte_time
        schedule(self.busy_until + self.delay, self, packet)

    def deliver(self, packet, due, now):
        late = now - due
        if late > 0.001:
            self.counts["late_over_1ms"] += 1
        self.counts["late_ms_max"] = max(self.counts["late_ms_max"], late * 1000)
        try:
            os.write(self.sink, packet)
            self.counts["delivered"] += 1
        except OSError:
            self.counts["write_errors"] += 1


def run(args):
    enter_netns(args.client_netns)
    client = attach_tun(args.client_dev)
    enter_netns(args.server_netns)
    server = attach_tun(args.server_dev)
    up = Direction("up", client, server, args)  # client -> server
    down = Direction("down", server, client, args)  # server -> client
    by_fd = {client: up, server: down}

    stopping = []
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(sig, lambda *_: stopping.append(True))

    pending = []  # (due, order, direction, packet)
    order = [0]

    def schedule(due, direction, packet):
        order[0] += 1
        heapq.heappush(pending, (due, order[0], direction, packet))

    started = time.monotonic()
    deadline = started + args.time_limit
    if args.ready:
        with open(args.ready + ".tmp", "w") as f:
            f.write("%d\n" % os.getpid())
        os.replace(args.ready + ".tmp", args.ready)
    while not stopping:
        now = time.monotonic()
        if now >= deadline:
            break
        while pending and pending[0][0] <= now:
            due, _, direction, packet = heapq.heappop(pending)
            direction.deliver(packet, due, now)
        wait = min(MAX_WAIT, deadline - now)
        if pending:
            wait = min(wait, pending[0][0] - now)
        try:
            ready, _, _ = select.select([client, server], [], [], max(0.0, wait))
        except InterruptedError:
            continue
        now = time.monotonic()
        for fd in ready:
            direction = by_fd[fd]
            for _ in range(READ_BURST):
                try:
                    packet = os.read(fd, 65536)
                except (BlockingIOError, InterruptedError):
                    break
                direction.accept(packet, now, schedule)

    stats = {"seconds": round(time.monotonic() - started, 3),
             "ended_by": "signal" if stopping else "time limit",
             "rtt_ms": args.rtt_ms, "loss": args.loss, "rate_mbit": args.rate_mbit,
             "queue_ms": args.queue_ms, "seed": args.seed,
             "up": up.counts, "down": down.counts}
    text = json.dumps(stats, indent=1, sort_keys=True)
    if args.stats:
        with open(args.stats + ".tmp", "w") as f:
            f.write(text + "\n")
        os.replace(args.stats + ".tmp", args.stats)
    else:
        print(text)
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0], epilog=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--client-netns", required=True, help="e.g. /proc/PID/ns/net")
    parser.add_argument("--client-dev", required=True, help="TUN device in the client's namespace")
    parser.add_argument("--server-netns", required=True)
    parser.add_argument("--server-dev", required=True)
    parser.add_argument("--rtt-ms", type=float, required=True,
                        help="round trip of an empty link: half of it is each way's delay")
    parser.add_argument("--loss", type=float, default=0.0, help="probability, each way")
    parser.add_argument("--rate-mbit", type=float, required=True, help="bottleneck, each way")
    parser.add_argument("--queue-ms", type=float, default=100.0,
                        help="drop-tail queue: the backlog it holds, in ms at the rate")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--time-limit", type=float, default=600.0, help="seconds, then it stops")
    parser.add_argument("--ready", help="file written (our pid) once both devices are attached")
    parser.add_argument("--stats", help="file for the JSON counters (default: stdout)")
    args = parser.parse_args()
    if not (0 <= args.loss < 1 and args.rate_mbit > 0 and args.rtt_ms >= 0 and
            args.queue_ms > 0 and args.time_limit > 0):
        parser.error("out-of-range link parameter")
    return run(args)


if __name__ == "__main__":
    sys.exit(main())
