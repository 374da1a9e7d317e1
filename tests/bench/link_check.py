#!/usr/bin/env python3
"""The network benchmark's link emulator (bench/network/link.py) delays, drops and limits as told.

    link_check.py SOURCE_DIR

Two network namespaces joined by the link; this process keeps one UDP socket in each. Every
check holds whatever the machine's load: a fixed seed makes the loss pattern one outcome (only
these datagrams cross the link), and the timing checks are bounds that a late emulator cannot
break (it can deliver late, never early) or minima over hundreds of packets. Exits 77 (skipped)
where namespaces or TUN devices cannot be made (needs root).
"""

import ctypes
import json
import os
import select
import socket
import statistics
import subprocess
import sys
import tempfile
import time

CLIENT, SERVER = "198.18.0.1", "198.19.0.1"
PORT = 9
RTT = 0.060  # seconds
RATE = 4e6  # bit/s
QUEUE = 0.050  # seconds of backlog
IP_UDP = 28  # IPv4 and UDP header bytes
SKIP = 77


def enter_netns(pid):
    libc = ctypes.CDLL(None, use_errno=True)
    fd = os.open("/proc/%d/ns/net" % pid, os.O_RDONLY)
    try:
        if libc.setns(fd, 0x40000000) != 0:
            raise OSError(ctypes.get_errno(), "setns")
    finally:
        os.close(fd)


def udp_socket_in(pid, address):
    enter_netns(pid)
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind((address, PORT))
    s.setblocking(False)
    return s


class Link:
    def __init__(self, source, holders, work, **params):
        self.stats = os.path.join(work, "stats.json")
        ready = os.path.join(work, "ready")
        for path in (self.stats, ready):
            if os.path.exists(path):
                os.remove(path)
        args = ["python3", os.path.join(source, "bench/network/link.py"),
                "--client-netns", "/proc/%d/ns/net" % holders[0], "--client-dev", "lumc",
                "--server-netns", "/proc/%d/ns/net" % holders[1], "--server-dev", "lums",
                "--time-limit", "60", "--ready", ready, "--stats", self.stats]
        for key, value in params.items():
            args += ["--" + key.replace("_", "-"), str(value)]
        self.process = subprocess.Popen(args)
        deadline = time.monotonic() + 20
        while not os.path.exists(ready):
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("the link did not start")
            time.sleep(0.02)

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=20)
        with open(self.stats) as f:
            return json.load(f)


def drain(sock):
    packets = []
    while True:
        try:
            packets.append((sock.recv(65536), time.monotonic()))
        except BlockingIOError:
            return packets


def delay_and_loss(client, server, failures):
    """300 small probes, 5 ms apart (far below the rate: no queueing), each echoed back."""
    count, loss = 300, 0.1
    sent, reached, returned = {}, {}, {}
    for i in range(count):
        sent[i] = time.monotonic()
        client.send(b"%06d" % i + b"." * 94)
        end = time.monotonic() + 0.005
        while time.monotonic() < end:
            select.select([client, server], [], [], max(0.0, end - time.monotonic()))
            for data, at in drain(server):
                reached[int(data[:6])] = at
                server.sendto(data, (CLIENT, PORT))
            for data, at in drain(client):
                returned[int(data[:6])] = at
    end = time.monotonic() + 1.0
    while time.monotonic() < end:
        select.select([client, server], [], [], 0.05)
        for data, at in drain(server):
            reached[int(data[:6])] = at
            server.sendto(data, (CLIENT, PORT))
        for data, at in drain(client):
            returned[int(data[:6])] = at
    one_way = [reached[i] - sent[i] for i in reached]
    rtts = [returned[i] - sent[i] for i in returned]
    up_lost = 1 - len(reached) / count
    down_lost = 1 - len(returned) / max(1, len(reached))
    print("probes: %d sent, %d reached, %d returned; one way min %.1f ms, round trip min %.1f "
          "median %.1f ms" % (count, len(reached), len(returned), 1000 * min(one_way or [0]),
                              1000 * min(rtts or [0]), 1000 * statistics.median(rtts or [0])))
    # Never early: each way at least half the round trip.
    if not one_way or min(one_way) < RTT / 2:
        failures.append("a probe arrived before the one-way delay")
    if not rtts or min(rtts) < RTT:
        failures.append("a probe returned before the round trip")
    # Not later than told either: the quickest of some 200 round trips.
    if rtts and min(rtts) > RTT + 0.015:
        failures.append("no round trip within 15 ms of the configured one")
    # 10 % each way; the seed makes this one outcome (the tolerance is 3 standard deviations).
    for name, seen in (("upstream", up_lost), ("downstream", down_lost)):
        if abs(seen - loss) > 0.05:
            failures.append("%s loss %.3f, told %.2f" % (name, seen, loss))


def rate_and_queue(client, server, failures):
    """A burst far beyond the queue: the queue's worth passes, at no more than the rate."""
    count, size = 400, 1000
    serialize = (size + IP_UDP) * 8 / RATE
    drain(server)
    first = time.monotonic()
    for i in range(count):
        while True:
            try:
                client.send(b"%06d" % i + b"x" * (size - 6))
                break
            except BlockingIOError:
                select.select([], [client], [], 0.05)
    arrivals = []
    end = time.monotonic() + 1.0 + count * serialize
    while time.monotonic() < end:
        select.select([server], [], [], 0.05)
        arrivals += [at for _, at in drain(server)]
    held = int(QUEUE / serialize)
    print("burst: %d sent, %d passed (the queue holds %d), last after %.1f ms" % (
        count, len(arrivals), held, 1000 * (max(arrivals or [first]) - first)))
    if len(arrivals) < held:
        failures.append("fewer passed than the queue holds")
    if len(arrivals) >= count:
        failures.append("nothing was dropped at the tail")
    # The bottleneck sends one packet after the other: the last cannot arrive sooner.
    if arrivals and max(arrivals) - first < len(arrivals) * serialize + RTT / 2:
        failures.append("faster than the rate: %d packets in %.1f ms" % (
            len(arrivals), 1000 * (max(arrivals) - first)))


def main():
    source = os.path.abspath(sys.argv[1])
    if os.geteuid() != 0 or not os.path.exists("/dev/net/tun"):
        print("skipped: needs root and /dev/net/tun")
        return SKIP
    netlink = os.path.join(source, "bench/network/netlink.sh")
    holders = []
    link = None
    failures = []
    try:
        for _ in range(2):
            result = subprocess.run(["bash", "-c", 'source "$0" && netlink_make_ns 120', netlink],
                                    capture_output=True, text=True)
            if result.returncode != 0:
                print("skipped: no network namespace: " + result.stderr.strip())
                return SKIP
            holders.append(int(result.stdout))
        for pid, dev, here, there in ((holders[0], "lumc", CLIENT, SERVER),
                                      (holders[1], "lums", SERVER, CLIENT)):
            subprocess.run(["bash", "-c", 'source "$0" && netlink_add_tun "$@"', netlink,
                            str(pid), dev, here, there], check=True)
        own = os.open("/proc/self/ns/net", os.O_RDONLY)
        client = udp_socket_in(holders[0], CLIENT)
        server = udp_socket_in(holders[1], SERVER)
        libc = ctypes.CDLL(None, use_errno=True)
        libc.setns(own, 0x40000000)
        os.close(own)
        client.connect((SERVER, PORT))
        with tempfile.TemporaryDirectory() as work:
            link = Link(source, holders, work, rtt_ms=RTT * 1000, loss=0.1, rate_mbit=RATE / 1e6,
                        queue_ms=QUEUE * 1000, seed=7)
            delay_and_loss(client, server, failures)
            link.stop()
            link = Link(source, holders, work, rtt_ms=RTT * 1000, loss=0, rate_mbit=RATE / 1e6,
                        queue_ms=QUEUE * 1000, seed=7)
            rate_and_queue(client, server, failures)
            stats = link.stop()
            link = None
            if stats["down"]["packets"] or stats["up"]["not_ipv4"]:
                failures.append("unexpected traffic on the link: %s" % stats)
    finally:
        if link:
            link.process.kill()
            link.process.wait()
        for pid in holders:
            subprocess.run(["kill", str(pid)], check=False)
    for failure in failures:
        print("FAILED: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
