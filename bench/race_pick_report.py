#!/usr/bin/env python3
"""Summary of race_pick_bench's runs, joined with what the servers sent.

    race_pick_report.py BENCH_OUTPUT NGINX_ACCESS_LOG TEST_SENT_LOG BYTES ROUNDS

The bytes sent to each mirror come from the servers' own records: nginx's
access log ("$request_uri $status $body_bytes_sent ...") and the test server's
sent log ("<target> <bytes>"). Both count what went into the socket, so a
loser's bytes include what sat in loopback buffers when it was stopped.
"""

import collections
import re
import statistics
import sys

TAG = re.compile(r"[?&]t=([\w-]+)-s(\d)")


def bytes_sent(paths):
    """(tag, slot) -> body bytes the servers sent for that mirror."""
    sent = collections.defaultdict(int)
    for path in paths:
        for line in open(path, encoding="utf-8", errors="replace"):
            fields = line.split()
            m = TAG.search(fields[0]) if fields else None
            if m:
                sent[(m.group(1), int(m.group(2)))] += int(fields[-2] if len(fields) > 3 else fields[-1])
    return sent


def main():
    out, nginx_log, test_log, size, rounds = sys.argv[1:6]
    sent = bytes_sent((nginx_log, test_log))
    mixes, runs = [], collections.defaultdict(list)
    for line in open(out, encoding="utf-8", errors="replace"):
        f = line.split()
        if f[:1] == ["mix"]:
            mixes.append((f[1], f[2], " ".join(f[4:])))
        elif f[:1] == ["run"]:
            kind, mix, rule, rnd, tag = f[1], f[2], f[3], int(f[4]), f[10]
            ok, winner, fastest, wall = int(f[5]), int(f[6]), int(f[7]), float(f[8])
            slots = [s for (t, s) in sent if t == tag]
            if winner < 0 and slots:  # finished before any pick: the one sent the most
                winner = max(slots, key=lambda s: sent[(tag, s)])
            losers = sum(sent[(tag, s)] for s in slots if s != winner)
            runs[(kind, mix, rule)].append((ok, ok and winner == fastest, wall, losers, rnd))

    print("(c) race pick: %s rounds per mix, a %s-byte file, the setup download's options" % (rounds, size))
    print("    %-5s %-8s %-4s %-15s %-8s %-8s %-6s %s" % (
        "kind", "mix", "rule", "fastest picked", "race s", "alone s", "ratio", "losers' bytes mean / max"))
    for kind, mix, mirrors in mixes:
        alone = {r[4]: r[2] for r in runs[(kind, mix, "alone")]}
        alone_median = statistics.median(alone.values()) if alone else 0.0
        print("    %s %s: %s" % (kind, mix, mirrors))
        for rule in ("new", "old"):
            rs = runs[(kind, mix, rule)]
            if not rs:
                continue
            picked = sum(1 for r in rs if r[1])
            wall = statistics.median(r[2] for r in rs)
            # Each race against the fastest mirror alone in the same round,
            # a few seconds apart: the machine's load moves both alike.
            ratios = [r[2] / alone[r[4]] for r in rs if alone.get(r[4])]
            losers = [r[3] / 1048576.0 for r in rs]
            print("    %-5s %-8s %-4s %3d/%-3d %4.0f%%  %-8.3f %-8.3f %-6.2f %.2f / %.2f MiB%s" % (
                kind, mix, rule, picked, len(rs), 100.0 * picked / len(rs), wall, alone_median,
                statistics.median(ratios) if ratios else 0.0, statistics.mean(losers), max(losers),
                "" if all(r[0] for r in rs) else "  (some transfers failed)"))
    print("    race and alone: median wall seconds; ratio: median over the rounds of race / the fastest")
    print("    mirror alone in the same round")
    print("    (targets: fastest picked >= 95%, ratio <= 1.10); new = the program's rule, old = first past pickBytes")


if __name__ == "__main__":
    main()
