#!/usr/bin/env python3
"""Helper of bench/scale_bench.sh: writes a marketplace folder of many
numbered keywords (词零零零一, 词零零零二, … with the accounts ci0001m0001, …) with
load_bench.py's page generator, runs one `qinglan collect` while sampling its
threads and descriptors every 20 ms, and checks and reports the outcome.

  scale_bench.py pages DIR KEYWORDS MEMBERS     the folder and DIR/expected.json
  scale_bench.py run RESULT.json -- COMMAND...  run, watch /proc, write the figures
  scale_bench.py report RESULT.json DATABASE EXPECTED.json
                                                check every table, print verdicts
"""
import json
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import load_bench  # noqa: E402  (the page generator and the row check)

SAMPLE_S = 0.02
RSS_GOAL_MIB = 150
THREADS_GOAL = 40


def numbered_keywords(count):
    # Written in Chinese numerals: company names, and so the contact pages'
    # titles, hold the keyword, and ASCII digits there would be taken for the
    # start of a mobile number.
    numerals = "零一二三四五六七八九"
    return [("词" + "".join(numerals[int(d)] for d in "%04d" % i), "ci%04dm" % i)
            for i in range(1, count + 1)]


def open_files_limit(pid):
    try:
        with open("/proc/%d/limits" % pid) as limits:
            for line in limits:
                if line.startswith("Max open files"):
                    return int(line.split()[3])
    except (OSError, ValueError, IndexError):
        pass
    return None


def run(result_path, command):
    target = os.path.realpath(command[0])
    threads, descriptors, limit = [], [], None
    with open(result_path + ".stdout", "wb") as out, open(result_path + ".stderr", "wb") as err:
        start = time.monotonic()
        child = subprocess.Popen(command, stdout=out, stderr=err)
        started = False
        while True:
            finished, status, usage = os.wait4(child.pid, os.WNOHANG)
            if finished:
                break
            # Before the exec /proc shows this interpreter, not the program.
            if not started:
                try:
                    started = os.readlink("/proc/%d/exe" % child.pid) == target
                except OSError:
                    pass
                if not started:
                    time.sleep(0.001)
                    continue
                limit = open_files_limit(child.pid)
            count = load_bench.thread_count(child.pid)
            if count is not None:
                threads.append(count)
            count = load_bench.descriptor_count(child.pid)
            if count is not None:
                descriptors.append(count)
            time.sleep(SAMPLE_S)
        wall = time.monotonic() - start
    with open(result_path + ".stdout", encoding="utf-8", errors="replace") as out:
        stdout = out.read()
    result = {
        "exit": os.waitstatus_to_exitcode(status),
        "wall_s": wall,
        "cpu_s": usage.ru_utime + usage.ru_stime,
        "max_rss_mib": usage.ru_maxrss / 1024.0,
        "threads_max": max(threads) if threads else None,
        "thread_samples": len(threads),
        "fd_max": max(descriptors) if descriptors else None,
        "open_files_limit": limit,
        "stdout": stdout,
    }
    with open(result_path, "w") as out:
        json.dump(result, out, ensure_ascii=False)


def report(result_path, database, expected_path):
    load_bench.check(result_path, database, expected_path)
    with open(result_path) as source:
        result = json.load(source)
    with open(expected_path) as source:
        expected = json.load(source)
    members = {keyword: len(rows) for keyword, rows in expected.items()}
    good_line = re.compile(r"(.+): collected (\d+) of \2 members, \2 rows stored$")
    complete = [m.group(1) for m in map(good_line.match, result["stdout"].splitlines()) if m]
    full_tables = sum(1 for k, n in members.items() if result["per_table"].get(k) == n)
    print("keywords: %d of %d members each, collected at once; open files limit %s" % (
        len(members), max(members.values()), result["open_files_limit"]))
    print("  wall time          %.2f s (CPU %.2f s), exit status %d" % (
        result["wall_s"], result["cpu_s"], result["exit"]))
    print("  max RSS            %.1f MiB" % result["max_rss_mib"])
    print("  most threads       %s (%d samples, one every %d ms)" % (
        result["threads_max"], result["thread_samples"], SAMPLE_S * 1000))
    print("  most descriptors   %s" % result["fd_max"])
    print("  tables             %d of %d hold all their rows; %d of %d rows stored" % (
        full_tables, len(members), result["rows"], result["rows_wanted"]))
    print("  summary lines      %d of %d say every member was collected and stored" % (
        len(complete), len(members)))
    for problem in result["problems"][:10]:
        print("  problem: %s" % problem)
    if result["exit"] != 0:
        with open(result_path + ".stderr", errors="replace") as err:
            for line in err.read().splitlines()[-3:]:
                print("  stderr: %s" % line)
    rows_ok = not result["problems"] and full_tables == len(members)
    rss_ok = result["max_rss_mib"] < RSS_GOAL_MIB
    threads_ok = result["threads_max"] is not None and result["threads_max"] <= THREADS_GOAL
    done_ok = result["exit"] == 0 and len(complete) == len(members)
    verdict = lambda ok: "PASS" if ok else "FAIL"
    print("verdict rows:        %s  every keyword's table holds its %d rows, each account once" % (
        verdict(rows_ok), max(members.values())))
    print("verdict memory:      %s  max RSS %.1f MiB (goal under %d MiB)" % (
        verdict(rss_ok), result["max_rss_mib"], RSS_GOAL_MIB))
    print("verdict threads:     %s  at most %s threads at once (goal at most %d)" % (
        verdict(threads_ok), result["threads_max"], THREADS_GOAL))
    print("verdict completion:  %s  exit status %d, %d of %d keywords complete" % (
        verdict(done_ok), result["exit"], len(complete), len(members)))
    return 0 if rows_ok and rss_ok and threads_ok and done_ok else 1


def main(argv):
    if len(argv) == 5 and argv[1] == "pages":
        count = int(argv[3])
        load_bench.pages(argv[2], count, int(argv[4]), numbered_keywords(count))
        return 0
    if len(argv) > 4 and argv[1] == "run" and argv[3] == "--":
        run(argv[2], argv[4:])
        return 0
    if len(argv) == 5 and argv[1] == "report":
        return report(argv[2], argv[3], argv[4])
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
