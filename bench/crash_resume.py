#!/usr/bin/env python3
"""Helper of bench/crash_resume.sh: collects a keyword twice without
interruption, then into another data folder, killing `qinglan collect`
with SIGKILL at random instants and starting it again after each kill, then
lets a last run finish and compares the two tables row by row.

  crash_resume.py QINGLAN WORK KEYWORD KILLS SEED SEARCH_DELAY_MS -- OPTIONS...

OPTIONS are passed to every `qinglan collect` (the hosts). Prints one line
per kill, the comparison and a verdict line; the exit status is 0 only for
a PASS.
"""
import os
import random
import signal
import sqlite3
import statistics
import subprocess
import sys
import time


def database(data):
    return os.path.join(data, "date", "lingshishuj.db")


def rows_of(data, keyword):
    """Every row of the keyword's table in rowid order, every column."""
    if not os.path.exists(database(data)):
        return []
    connection = sqlite3.connect("file:%s?mode=ro" % database(data), uri=True)
    try:
        quoted = '"%s"' % keyword.replace('"', '""')
        return connection.execute("SELECT * FROM %s ORDER BY rowid" % quoted).fetchall()
    except sqlite3.Error:
        return []
    finally:
        connection.close()


def progress_of(data, keyword):
    """How far the keyword got: before the table, before the member list or amid the rows."""
    if not os.path.exists(database(data)):
        return "no database yet"
    connection = sqlite3.connect("file:%s?mode=ro" % database(data), uri=True)
    try:
        listed = connection.execute("SELECT listed FROM MSysCollections WHERE keyword = ?",
                                    (keyword,)).fetchone()
    except sqlite3.Error:
        listed = None
    finally:
        connection.close()
    if listed is None:
        return "no table yet"
    if not listed[0]:
        return "member list not saved yet"
    return "%d rows stored" % len(rows_of(data, keyword))


def integrity_of(data):
    connection = sqlite3.connect("file:%s?mode=ro" % database(data), uri=True)
    try:
        return connection.execute("PRAGMA integrity_check").fetchone()[0]
    finally:
        connection.close()


class Collector:
    """One `qinglan collect`, its output kept in files of WORK."""

    count = 0

    def __init__(self, qinglan, work, data, options, keyword):
        Collector.count += 1
        self.stderr_path = os.path.join(work, "run-%d.stderr" % Collector.count)
        self.started = time.monotonic()
        with open(self.stderr_path, "wb") as err, open(os.devnull, "wb") as out:
            self.process = subprocess.Popen(
                [qinglan, "collect", "--data-dir", data] + options + ["--", keyword],
                stdout=out, stderr=err)

    def wait(self):
        status = self.process.wait()
        self.seconds = time.monotonic() - self.started
        return status

    def last_errors(self, lines=3):
        with open(self.stderr_path, errors="replace") as err:
            return err.read().splitlines()[-lines:]


def kill_delays(rng, kills, start_s, run_s, search_delay_s):
    """When each run is killed, in seconds after its start.

    start_s is what a run takes that has nothing to collect, run_s what the
    uninterrupted collection took. The first kill lands about when the
    program opens its database, the second while the search page is on its
    way. The others cut the time of the members into random pieces, one of
    them near its end; since every run carries on where the one before
    stopped, each piece counted from its run's start spreads them over the
    whole collection.
    """
    delays = [rng.uniform(0, start_s / 2), rng.uniform(start_s / 2, start_s + search_delay_s)]
    # A resumed run asks for no search page; the last tenth is left out, as
    # a kill after the end proves nothing and the runs' speed varies.
    work_s = max(0.001, 0.9 * (run_s - start_s - search_delay_s))
    points = [rng.uniform(0.8 * work_s, work_s)]
    points += [rng.uniform(0, work_s) for _ in range(kills - len(delays) - 1)]
    before = 0.0
    for point in sorted(points):
        delays.append(start_s + point - before)
        before = point
    return delays[:kills]


def listed(data, keyword):
    """Whether the keyword's member list is saved: a run then asks for no search page."""
    return progress_of(data, keyword).endswith("rows stored")


def main(argv):
    if len(argv) < 8 or argv[7] != "--":
        sys.stderr.write(__doc__)
        return 2
    qinglan, work, keyword = argv[1], argv[2], argv[3]
    kills, seed, search_delay_s = int(argv[4]), int(argv[5]), int(argv[6]) / 1000.0
    options = argv[8:]
    reference, killed = os.path.join(work, "reference"), os.path.join(work, "killed")
    print("seed %d (given as SEED, it repeats the kill instants)" % seed)
    rng = random.Random(seed)

    # Two uninterrupted runs, which must agree; the faster one times the
    # kills, as a run slowed by a busy machine would put them past the end.
    uninterrupted = []
    for data in (reference, os.path.join(work, "again")):
        run = Collector(qinglan, work, data, options, keyword)
        if run.wait() != 0:
            print("an uninterrupted collection failed: %s" % " / ".join(run.last_errors()))
            return 1
        uninterrupted.append(run.seconds)
    if rows_of(reference, keyword) != rows_of(os.path.join(work, "again"), keyword):
        print("two uninterrupted collections stored different rows")
        return 1
    # The median of three, as one start may meet a busy machine.
    idle = []
    for _ in range(3):
        run = Collector(qinglan, work, reference, options, keyword)
        run.wait()
        idle.append(run.seconds)
    start_s = statistics.median(idle)
    expected = rows_of(reference, keyword)
    print("uninterrupted collection: %.2f s (the faster of two), %d rows; a run with nothing "
          "to collect: %.3f s" % (min(uninterrupted), len(expected), start_s))

    landed = 0
    for number, delay in enumerate(kill_delays(rng, kills, start_s, min(uninterrupted),
                                               search_delay_s), 1):
        # Until the member list is saved, every run waits for the search
        # page again: the members' pieces count from its arrival.
        if number > 2 and not listed(killed, keyword):
            delay += search_delay_s
        run = Collector(qinglan, work, killed, options, keyword)
        time.sleep(max(0.0, run.started + delay - time.monotonic()))
        run.process.send_signal(signal.SIGKILL)
        status = run.wait()
        landed += status == -signal.SIGKILL
        outcome = "killed" if status == -signal.SIGKILL else "exited with %d" % status
        print("kill %2d after %6.3f s: %s, %s" % (number, delay, outcome,
                                                   progress_of(killed, keyword)))

    last = Collector(qinglan, work, killed, options, keyword)
    last_status = last.wait()
    print("last run: exit status %d after %.2f s" % (last_status, last.seconds))
    tables = subprocess.run([qinglan, "tables", "--data-dir", killed], capture_output=True,
                            text=True)
    state = [line for line in tables.stdout.splitlines() if line.split("\t")[0] == keyword]
    print("qinglan tables: %s" % (state[0].replace("\t", "  ") if state else "no line for the keyword"))
    integrity = integrity_of(killed)

    rows = rows_of(killed, keyword)
    problems = []
    for i, (got, want) in enumerate(zip(rows, expected), 1):
        if got != want:
            problems.append("row %d stored as %r, the uninterrupted run has %r" % (i, got, want))
    if len(rows) != len(expected):
        problems.append("%d rows, the uninterrupted run has %d" % (len(rows), len(expected)))
    wanted_state = "%s\t%d\t%d\tcomplete\t内置" % (keyword, len(expected), len(expected))
    if not state or state[0] != wanted_state:
        problems.append("qinglan tables does not say %r" % wanted_state)
    if last_status != 0:
        problems.append("the last run exited with %d: %s" % (last_status,
                                                              " / ".join(last.last_errors())))
    if integrity != "ok":
        problems.append("integrity check: %s" % integrity)
    if landed == 0:
        problems.append("no kill landed before the end of its run")
    for problem in problems[:10]:
        print("problem: " + problem)
    print("verdict: %s  %d of %d rows equal to the uninterrupted run's, every field, in rowid "
          "order; %s; %d kills, %d of them before the end of their run; seed %d"
          % ("PASS" if not problems else "FAIL",
             sum(1 for got, want in zip(rows, expected) if got == want), len(expected),
             "complete" if state and state[0].endswith("\tcomplete") else "not complete",
             kills, landed, seed))
    return 0 if not problems else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
