#!/usr/bin/env python3
"""Helper of bench/memory_bench.sh: writes a marketplace folder whose one
keyword lists 64 members with endless member cards, and measures the peak
memory of `qinglan collect` as it meets them all at once.

  memory_bench.py pages DIR                  the folder; prints the server's --behaviour options
  memory_bench.py measure QINGLAN WORK SECONDS -- OPTIONS...
                                             one run per page budget, each killed after
                                             SECONDS; peak RSS, exit and summary per line

OPTIONS are passed to every `qinglan collect` (the hosts). The exit status
of `measure` is 0 only when the default budget's run meets its goal.
"""
import os
import random
import signal
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import failure_bench  # noqa: E402  (the search page and the pages of one member)

KEYWORD = "无尽六十四"
MEMBERS = 64
ACCOUNT = "endless%02d"
LIMITS = ["--parallel", "64", "--connections", "64", "--per-host", "64"]
RSS_GOAL_MIB = 400
# The default budget, then one that holds no transfer back: what 64 pages
# at the cap cost when nothing bounds them.
BUDGETS = [("default (256 MiB)", []), ("65536 MiB (no bound)", ["--page-budget", "65536"])]


def pages(folder):
    rng = random.Random(20240607)
    for sub in ("search", "card", "contact"):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
    accounts = [ACCOUNT % i for i in range(MEMBERS)]
    failure_bench.search_page(folder, KEYWORD, accounts)
    for i, account in enumerate(accounts):
        failure_bench.member(folder, rng, KEYWORD, account, i)
    print(" ".join("--behaviour card/%s=endless" % a for a in accounts))


def run_bounded(collector, seconds):
    """Waits for the collector, killing it after `seconds`; True when killed."""
    deadline = time.monotonic() + seconds
    while True:
        pid, status, usage = os.wait4(collector.process.pid, os.WNOHANG)
        if pid == collector.process.pid:
            collector.finished(status, usage)
            return False
        if time.monotonic() >= deadline:
            collector.process.send_signal(signal.SIGKILL)
            _, status, usage = os.wait4(collector.process.pid, 0)
            collector.finished(status, usage)
            return True
        time.sleep(0.05)


def measure(qinglan, work, seconds, options):
    ok = True
    for name, budget in BUDGETS:
        collector = failure_bench.Collector(qinglan, work, "budget-%d" % len(budget),
                                            options + LIMITS + budget, KEYWORD)
        killed = run_bounded(collector, seconds)
        print("page budget %-22s peak RSS %7.1f MiB, %s after %.1f s"
              % (name, collector.max_rss_mib,
                 "KILLED" if killed else "exit %d" % collector.exit, collector.seconds))
        print("  summary: %s" % collector.summary[:160])
        if not budget:
            met = not killed and collector.max_rss_mib < RSS_GOAL_MIB
            print("  goal: under %d MiB with the default budget: %s"
                  % (RSS_GOAL_MIB, "PASS" if met else "FAIL"))
            ok = ok and met
    return 0 if ok else 1


def main(argv):
    if len(argv) == 3 and argv[1] == "pages":
        pages(argv[2])
        return 0
    if len(argv) >= 6 and argv[1] == "measure" and argv[5] == "--":
        return measure(argv[2], argv[3], float(argv[4]), argv[6:])
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
