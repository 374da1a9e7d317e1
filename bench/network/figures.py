#!/usr/bin/env python3
"""Figures of the network benchmark (run.sh).

  figures.py download REQUESTS_JSON URL_PATH SIZE CONGESTION
      From the far release server's request records of one run: the download's seconds, from
      the head of the first request for URL_PATH read by the server to the last byte of any of
      those responses acknowledged by the client's TCP. Prints "seconds=S requests=N bytes=B"
      (B: body bytes sent), or "seconds=- ..." when no response was acknowledged whole or fewer
      than SIZE bytes were sent or a connection was not on CONGESTION.
  figures.py settled REQUESTS_JSON URL_PATH
      Succeeds when every response for URL_PATH sent whole has been acknowledged whole.
  figures.py link STATS_JSON
      The link's counters of one run, as "lost_down=.. lost_up=.. queue_drops_down=.. late_max_ms=..".
  figures.py table RESULTS TOOLS...
      The table of medians and ratios from run.sh's result lines.
"""

import json
import statistics
import sys

NAMES = {"new": "new product", "today": "today's product", "curl": "curl",
         "aria2c": "aria2c -x4"}


def download(requests_path, url_path, size, congestion):
    with open(requests_path) as f:
        records = [r for r in json.load(f)["requests"]
                   if r.get("method") == "GET" and r.get("path", "").split("?")[0] == url_path]
    sent = sum(r.get("body_bytes_sent", 0) for r in records)
    acked = [r["body_acked_ns"] for r in records if "body_acked_ns" in r]
    wrong = [r for r in records if r.get("tcp_congestion") != congestion]
    if not records or not acked or sent < size or wrong:
        return "seconds=- requests=%d bytes=%d" % (len(records), sent)
    start = min(r["received_ns"] for r in records)
    return "seconds=%.3f requests=%d bytes=%d" % ((max(acked) - start) / 1e9, len(records), sent)


def settled(requests_path, url_path):
    with open(requests_path) as f:
        records = [r for r in json.load(f)["requests"]
                   if r.get("method") == "GET" and r.get("path", "").split("?")[0] == url_path]
    return all("body_acked_ns" in r for r in records if "body_sent_ns" in r)


def link(stats_path):
    with open(stats_path) as f:
        stats = json.load(f)
    up, down = stats["up"], stats["down"]

    def share(counts, key):
        return "%.4f" % (counts[key] / counts["packets"]) if counts["packets"] else "-"

    delivered = up["delivered"] + down["delivered"]
    late = (up["late_over_1ms"] + down["late_over_1ms"]) / delivered if delivered else 0
    return ("lost_down=%s lost_up=%s queue_drops_down=%d packets_down=%d late_max_ms=%.1f "
            "late_share=%.4f" % (share(down, "lost"), share(up, "lost"), down["queue_drops"],
                                 down["packets"], max(up["late_ms_max"], down["late_ms_max"]), late))


def table(results_path, tools):
    # Result line: CASE SEED TOOL SECONDS|- then key=value link figures.
    rows = {}
    cases = []
    link_figures = {}
    with open(results_path) as f:
        for line in f:
            fields = line.split()
            if len(fields) < 4:
                continue
            case, _, tool, seconds = fields[:4]
            if case not in rows:
                rows[case] = {}
                cases.append(case)
            rows[case].setdefault(tool, []).append(None if seconds == "-" else float(seconds))
            extra = dict(f.split("=", 1) for f in fields[4:] if "=" in f)
            link_figures.setdefault(case, []).append(extra)

    def median(case, tool):
        values = [v for v in rows[case].get(tool, []) if v is not None]
        return statistics.median(values) if values else None

    def failures(case, tool):
        return sum(1 for v in rows[case].get(tool, []) if v is None)

    def cell(value, digits=1):
        return "-" if value is None else "%.*f" % (digits, value)

    def ratio(a, b):
        return None if a is None or b is None or b == 0 else a / b

    header = ["case"] + [NAMES[t] for t in tools] + ["new/today", "new/curl", "new/aria2c"]
    widths = [22] + [max(11, len(NAMES[t]) + 1) for t in tools] + [10, 9, 11]
    lines = ["".join(h.rjust(w) if i else h.ljust(w) for i, (h, w) in enumerate(zip(header, widths)))]
    verdicts = []
    for case in cases:
        medians = {t: median(case, t) for t in tools}
        new = medians.get("new")
        ratios = [ratio(new, medians.get("today")), ratio(new, medians.get("curl")),
                  ratio(new, medians.get("aria2c"))]
        cells = [case] + ["%s%s" % (cell(medians[t]), "!" * min(failures(case, t), 3)) for t in tools]
        cells += [cell(r, 2) for r in ratios]
        lines.append("".join(c.rjust(w) if i else c.ljust(w) for i, (c, w) in enumerate(zip(cells, widths))))
        rtt, loss, cc = case.split("/")
        if ratios[0] is not None:
            if rtt == "200ms" and loss == "1%" and cc == "cubic":
                verdicts.append("%s: new/today %.2f (target <= 0.33: %s)" % (
                    case, ratios[0], "met" if ratios[0] <= 1 / 3 else "MISSED"))
            verdicts.append("%s: new/today %.2f (target <= 1.05: %s)" % (
                case, ratios[0], "met" if ratios[0] <= 1.05 else "MISSED"))
        if ratios[2] is not None and rtt == "200ms" and loss == "1%" and cc == "cubic":
            verdicts.append("%s: new/aria2c %.2f (target <= 1.20: %s)" % (
                case, ratios[2], "met" if ratios[2] <= 1.2 else "MISSED"))
    print("\n".join(lines))
    print()
    print("link, per case (all runs): loss seen downstream / upstream, drop-tail drops downstream,")
    print("packets the emulator delivered more than 1 ms after due, and the largest lateness")
    for case in cases:
        figures = link_figures[case]
        lost_down = [float(f["lost_down"]) for f in figures if f.get("lost_down", "-") != "-"]
        lost_up = [float(f["lost_up"]) for f in figures if f.get("lost_up", "-") != "-"]
        drops = sum(int(f.get("queue_drops_down", 0)) for f in figures)
        late = max([float(f.get("late_max_ms", 0)) for f in figures] or [0])
        late_share = [float(f["late_share"]) for f in figures if "late_share" in f]
        print("  %-22s loss %s / %s, queue drops %d, late by over 1 ms %s, late max %.1f ms" % (
            case, "%.2f%%" % (100 * statistics.mean(lost_down)) if lost_down else "-",
            "%.2f%%" % (100 * statistics.mean(lost_up)) if lost_up else "-", drops,
            "%.1f%%" % (100 * statistics.mean(late_share)) if late_share else "-", late))
    print()
    print("targets (issue): at 200 ms / 1 % / CUBIC new <= 1/3 of today and <= 1.2 x aria2c -x4;")
    print("no case more than 5 % slower than today")
    for verdict in verdicts:
        print("  " + verdict)
    if not verdicts:
        print("  - (needs the new product and today's: --baseline-build)")


def main():
    if len(sys.argv) == 6 and sys.argv[1] == "download":
        print(download(sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5]))
    elif len(sys.argv) == 4 and sys.argv[1] == "settled":
        return 0 if settled(sys.argv[2], sys.argv[3]) else 1
    elif len(sys.argv) == 3 and sys.argv[1] == "link":
        print(link(sys.argv[2]))
    elif len(sys.argv) >= 4 and sys.argv[1] == "table":
        table(sys.argv[2], sys.argv[3:])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
