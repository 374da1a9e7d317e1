#!/usr/bin/env python3
"""One hand-over figure of bench/transfer/run.sh, from the release server's request records and
the start mark the benchmark package wrote (see bench/transfer/README.md):

    handover.py last-seq REQUESTS_JSON URL_PATH
    handover.py stamp-lines < OUTPUT > LOG
    handover.py figures REQUESTS_JSON START_FILE LOG URL_PATH AFTER_SEQ

REQUESTS_JSON is what GET /_control/requests answered, URL_PATH the package's route. last-seq
prints the number of the last record of that route (-1 for none), to be given as AFTER_SEQ
after the run. stamp-lines copies headless_install's output, each line led by the Unix time in
ns at which it arrived. figures reads START_FILE, the package's "started=N created=N" line, and
LOG, and prints one line of name=value pairs (seconds), or fails.
"""

import json
import re
import sys
import time

# FILETIME counts 100 ns units from 1601-01-01 UTC, Unix time seconds from 1970-01-01 UTC.
FILETIME_UNIX_EPOCH = 116444736000000000
VERIFYING = 4  # InstallStage values in headless_install's "status STAGE PERCENT ..." lines
INSTALLING = 5


def filetime_to_unix_ns(value):
    return (value - FILETIME_UNIX_EPOCH) * 100


def downloads(requests_file, url_path, after_seq=-1):
    with open(requests_file, encoding="utf-8") as f:
        records = json.load(f)["requests"]
    return [r for r in records
            if r["method"] == "GET" and r["path"] == url_path and r["seq"] > after_seq]


def last_seq(requests_file, url_path):
    print(max((r["seq"] for r in downloads(requests_file, url_path)), default=-1))


def stamp_lines():
    for line in sys.stdin.buffer:
        sys.stdout.buffer.write(b"%d %s\n" % (time.time_ns(), line.rstrip(b"\r\n")))
        sys.stdout.buffer.flush()


def first_status(log_file, stage):
    """Arrival time of the first status line of that stage in a stamp-lines log."""
    with open(log_file, encoding="utf-8", errors="replace") as f:
        for line in f:
            fields = line.split()
            if len(fields) >= 3 and fields[1] == "status" and fields[2] == str(stage):
                return int(fields[0])
    sys.exit("handover.py: no status %d in %s" % (stage, log_file))


def figures(requests_file, start_file, log_file, url_path, after_seq):
    fetched = downloads(requests_file, url_path, int(after_seq))
    if not fetched:
        sys.exit("handover.py: the run did not fetch %s" % url_path)
    last = fetched[-1]
    if "body_read_ns" not in last:
        sys.exit("handover.py: no end mark on the last request for %s (a release server without "
                 "mark_end, a body cut short, or a client that never read it all)" % url_path)
    with open(start_file, encoding="ascii", errors="replace") as f:
        text = f.read()
    match = re.search(r"started=(\d+) created=(\d+)", text)
    if not match:
        sys.exit("handover.py: no start mark in %s: %r" % (start_file, text))
    started = filetime_to_unix_ns(int(match.group(1)))
    created = filetime_to_unix_ns(int(match.group(2)))
    read = last["body_read_ns"]
    sent = last["body_sent_ns"]
    # The bootstrapper's statuses split the span: Verifying (4) comes when the download has
    # returned, Installing (5) just before the package is started.
    verifying = first_status(log_file, VERIFYING)
    installing = first_status(log_file, INSTALLING)
    print("seconds=%.6f to_created=%.6f sent_to_read=%.6f created_to_started=%.6f "
          "read_to_verifying=%.6f verifying_to_installing=%.6f installing_to_created=%.6f "
          "requests=%d seq=%d" % (
              (started - read) / 1e9, (created - read) / 1e9, (read - sent) / 1e9,
              (started - created) / 1e9, (verifying - read) / 1e9, (installing - verifying) / 1e9,
              (created - installing) / 1e9, len(fetched), last["seq"]))


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "last-seq":
        last_seq(*sys.argv[2:])
    elif len(sys.argv) == 2 and sys.argv[1] == "stamp-lines":
        stamp_lines()
    elif len(sys.argv) == 7 and sys.argv[1] == "figures":
        figures(*sys.argv[2:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
