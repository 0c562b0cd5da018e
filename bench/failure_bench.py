#!/usr/bin/env python3
"""Helper of bench/failure_bench.sh: writes the marketplace folder of the
failures and measures how `qinglan collect` meets them.

  failure_bench.py pages DIR                 the folder; prints the server's --behaviour options
  failure_bench.py measure QINGLAN WORK -- OPTIONS...
                                             the figures, a goal and a verdict per line

OPTIONS are passed to every `qinglan collect` (the hosts). The exit status
of `measure` is 0 only when every verdict is PASS.
"""
import os
import random
import signal
import sqlite3
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import load_bench  # noqa: E402  (the pages of one member, as the load has them)

ENDLESS = ("无尽", "huge01")
TRICKLE = ("涓流", "slow01")
LOCKED = ("锁库", "lock%04d")
LOCKED_MEMBERS = 1000
RUNS = 3
RSS_GOAL_MIB = 100
# The fetch limits of a default run; the trickle's figures follow from them.
SLOW_TIMEOUT_S = 30
RETRIES = 3
BACK_OFF_S = (1, 2, 4)
BACK_OFF_SPREAD = 0.25
TRANSFER_SLACK_S = 3
INTERRUPT_GOAL_S = 1.0


def encoded(keyword):
    return "".join("%%%02X" % b for b in keyword.encode("gb2312"))


def search_page(folder, keyword, accounts):
    items = "".join('<li class="company"><a href="http://s.1688.com/offer?companyId="%s" '
                    'target="_blank">%s</a></li>\n' % (a, a) for a in accounts)
    load_bench.write(os.path.join(folder, "search", encoded(keyword) + ".html"),
                     "<html><head><title>%s - 公司搜索</title></head><body><ul>\n%s</ul></body></html>"
                     % (keyword, items))


def member(folder, rng, keyword, account, i):
    card, contact_page, _ = load_bench.member_pages(rng, keyword, account, i)
    load_bench.write(os.path.join(folder, "card", account + ".json"), card)
    load_bench.write(os.path.join(folder, "contact", account + ".html"), contact_page)


def pages(folder):
    rng = random.Random(20240607)
    for sub in ("search", "card", "contact"):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
    for keyword, account in (ENDLESS, TRICKLE):
        search_page(folder, keyword, [account])
        member(folder, rng, keyword, account, 0)
    keyword, pattern = LOCKED
    accounts = [pattern % i for i in range(1, LOCKED_MEMBERS + 1)]
    search_page(folder, keyword, accounts)
    for i, account in enumerate(accounts):
        member(folder, rng, keyword, account, i)
    # The endless card repeats its body without end; the trickling one sends
    # a byte every 0.9 s, far below the 1 KiB/s a transfer must keep up.
    print("--behaviour card/%s=endless --behaviour card/%s=trickle:1:900" % (ENDLESS[1], TRICKLE[1]))


class Collector:
    """One `qinglan collect` over its own data folder, watched with wait4."""

    def __init__(self, qinglan, work, name, options, keyword):
        self.data = os.path.join(work, name)
        self.stdout_path = os.path.join(work, name + ".stdout")
        self.stderr_path = os.path.join(work, name + ".stderr")
        self.started = time.monotonic()
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            self.process = subprocess.Popen(
                [qinglan, "collect", "--data-dir", self.data] + options + ["--", keyword],
                stdout=out, stderr=err)

    def wait(self):
        _, status, usage = os.wait4(self.process.pid, 0)
        return self.finished(status, usage)

    def finished(self, status, usage):
        self.ended = time.monotonic()
        self.seconds = self.ended - self.started
        self.max_rss_mib = usage.ru_maxrss / 1024.0
        self.exit = os.waitstatus_to_exitcode(status)
        self.process.returncode = self.exit
        with open(self.stdout_path, errors="replace") as out:
            self.summary = out.read().strip()
        return self.exit

    def database(self):
        return os.path.join(self.data, "date", "lingshishuj.db")


def wait_all(collectors):
    """Each collector's end as it happens, whatever the order."""
    pending = {c.process.pid: c for c in collectors}
    while pending:
        pid, status, usage = os.wait4(-1, 0)
        if pid in pending:
            pending.pop(pid).finished(status, usage)


def median_line(values, form):
    return "median of %d runs: %s" % (len(values), ", ".join(form % v for v in values))


def verdict_line(what, figure, detail, goal, ok):
    print("%-48s %-34s goal %-44s %s" % (what, figure + " (" + detail + ")", goal,
                                          "PASS" if ok else "FAIL"))
    return ok


def endless(qinglan, work, options):
    runs = []
    for run in range(1, RUNS + 1):
        collector = Collector(qinglan, work, "endless-%d" % run, options, ENDLESS[0])
        collector.wait()
        runs.append(collector)
    for run, c in enumerate(runs, 1):
        print("  endless run %d: exit %d after %.2f s, max RSS %.1f MiB: %s"
              % (run, c.exit, c.seconds, c.max_rss_mib, c.summary))
    rss = [c.max_rss_mib for c in runs]
    failed_right = all(c.exit == 1 and "card of %s: page too large" % ENDLESS[1] in c.summary
                       for c in runs)
    return rss, failed_right


def trickle(qinglan, work, options):
    # The runs only wait on the server, so all of them go at once.
    single = [Collector(qinglan, work, "trickle-once-%d" % run, options + ["--retries", "0"],
                        TRICKLE[0]) for run in range(1, RUNS + 1)]
    retried = [Collector(qinglan, work, "trickle-retried-%d" % run, options, TRICKLE[0])
               for run in range(1, RUNS + 1)]
    wait_all(single + retried)
    for name, runs in (("--retries 0", single), ("default", retried)):
        for run, c in enumerate(runs, 1):
            print("  trickle %s run %d: exit %d after %.1f s: %s"
                  % (name, run, c.exit, c.seconds, c.summary))
    failed_right = all(c.exit == 1 and "card of %s: too slow" % TRICKLE[1] in c.summary
                       for c in single + retried)
    return [c.seconds for c in single], [c.seconds for c in retried], failed_right


LOCKER = r"""
import sqlite3, sys, time
connection = sqlite3.connect(sys.argv[1], isolation_level=None, timeout=10)
connection.execute("BEGIN EXCLUSIVE")
print("locked", flush=True)
time.sleep(float(sys.argv[2]))
"""


def row_count(path, table):
    connection = sqlite3.connect("file:%s?mode=ro" % path, uri=True, timeout=5)
    try:
        return connection.execute('SELECT count(*) FROM "%s"' % table).fetchone()[0]
    finally:
        connection.close()


def listed(path, keyword):
    if not os.path.exists(path):
        return False
    connection = sqlite3.connect("file:%s?mode=ro" % path, uri=True, timeout=5)
    try:
        row = connection.execute("SELECT listed FROM MSysCollections WHERE keyword = ?",
                                 (keyword,)).fetchone()
        return bool(row and row[0])
    except sqlite3.Error:
        return False
    finally:
        connection.close()


def interrupted_once(qinglan, work, options, run):
    """Seconds from SIGINT to the exit of a collector held up by a locked database."""
    keyword = LOCKED[0]
    collector = Collector(qinglan, work, "locked-%d" % run, options, keyword)
    deadline = time.monotonic() + 20
    while not listed(collector.database(), keyword) and time.monotonic() < deadline:
        if collector.process.poll() is not None:
            break
        time.sleep(0.01)
    locker = subprocess.Popen([sys.executable, "-c", LOCKER, collector.database(), "30"],
                              stdout=subprocess.PIPE, text=True)
    try:
        ready = locker.stdout.readline().strip() == "locked"
        # Long enough for the collector's next row to meet the lock.
        time.sleep(0.3)
        rows_before = row_count(collector.database(), keyword)
        time.sleep(0.2)
        rows_at_signal = row_count(collector.database(), keyword)
        waiting = ready and collector.process.poll() is None and rows_before == rows_at_signal
        signalled = time.monotonic()
        collector.process.send_signal(signal.SIGINT)
        collector.wait()
        seconds = collector.ended - signalled
    finally:
        locker.kill()
        locker.wait()
    print("  locked run %d: %s, %d of %d rows stored; exit %d %.3f s after SIGINT: %s"
          % (run, "waiting on the locked database" if waiting else "NOT seen waiting",
             rows_at_signal, LOCKED_MEMBERS, collector.exit, seconds, collector.summary))
    return seconds, waiting


def measure(qinglan, work, options):
    print("(a) a member card without end")
    rss, endless_ok = endless(qinglan, work, options)
    print("(b) a member card trickling 1 byte every 0.9 s (%d runs of each at once)" % RUNS)
    once, retried, trickle_ok = trickle(qinglan, work, options)
    print("(c) SIGINT while another program holds the database locked")
    interrupts = [interrupted_once(qinglan, work, options, run) for run in range(1, RUNS + 1)]
    seconds = [s for s, _ in interrupts]

    one_high = SLOW_TIMEOUT_S + TRANSFER_SLACK_S
    total_low = (RETRIES + 1) * SLOW_TIMEOUT_S + sum(BACK_OFF_S) * (1 - BACK_OFF_SPREAD)
    total_high = (RETRIES + 1) * one_high + sum(BACK_OFF_S) * (1 + BACK_OFF_SPREAD)
    print()
    ok = [
        verdict_line("peak RSS, endless card (failed: page too large)",
                     "%.1f MiB" % statistics.median(rss), median_line(rss, "%.1f"),
                     "under %d MiB%s" % (RSS_GOAL_MIB, "" if endless_ok else
                                          "; exit 1 with 'page too large' NOT met"),
                     endless_ok and max(rss) < RSS_GOAL_MIB),
        verdict_line("give up on a trickle, one transfer (--retries 0)",
                     "%.1f s" % statistics.median(once), median_line(once, "%.1f"),
                     "%d to %d s (the slow timeout)" % (SLOW_TIMEOUT_S, one_high),
                     trickle_ok and all(SLOW_TIMEOUT_S <= s <= one_high for s in once)),
        verdict_line("give up on a trickle, default limits (3 retries)",
                     "%.1f s" % statistics.median(retried), median_line(retried, "%.1f"),
                     "%.0f to %.0f s (4 transfers, back-off 1+2+4 s)" % (total_low, total_high),
                     trickle_ok and all(total_low <= s <= total_high for s in retried)),
        verdict_line("SIGINT to exit, database locked elsewhere",
                     "%.3f s" % statistics.median(seconds), median_line(seconds, "%.3f"),
                     "under %.0f s%s" % (INTERRUPT_GOAL_S, "" if all(w for _, w in interrupts)
                                         else "; a run NOT seen waiting on the lock"),
                     all(w for _, w in interrupts) and max(seconds) < INTERRUPT_GOAL_S),
    ]
    return 0 if all(ok) else 1


def main(argv):
    if len(argv) == 3 and argv[1] == "pages":
        pages(argv[2])
        return 0
    if len(argv) >= 5 and argv[1] == "measure" and argv[4] == "--":
        return measure(argv[2], argv[3], argv[5:])
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
