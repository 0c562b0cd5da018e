#!/usr/bin/env python3
"""Helper of bench/scrapy_compare.sh: runs `qinglan collect` and the Scrapy
spider turn about on every case, checks that both stored the same rows, and
prints the medians, the ratios and a verdict per goal.

  scrapy_compare.py measure WORK RUNS QINGLAN SPIDER_PYTHON SPIDER EXPECTED.json
                    DELAY_MS=PORT... -- KEYWORD...

Each DELAY_MS=PORT names a sample marketplace holding every answer that
long. The cases are each delay with the first keyword alone and with all of
them; every run starts from an empty data folder.
"""
import json
import os
import shutil
import sqlite3
import statistics
import subprocess
import sys
import time

CONNECTIONS = 16
THROUGHPUT_GOAL = 1.5  # qinglan's members per second over Scrapy's, at least
BOUND_GOAL = 1.3  # qinglan's wall time over what latency allows, at most


def timed(command, stdout_path):
    """Runs a command; its wall time, CPU time (user + system) and exit status."""
    with open(stdout_path, "wb") as out, open(stdout_path + ".stderr", "wb") as err:
        start = time.monotonic()
        child = subprocess.Popen(command, stdout=out, stderr=err)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.monotonic() - start
    return {"wall_s": wall, "cpu_s": usage.ru_utime + usage.ru_stime,
            "exit": os.waitstatus_to_exitcode(status)}


def stored_rows(database, keyword):
    """The table's rows in rowid order, or None without the table."""
    try:
        connection = sqlite3.connect("file:%s?mode=ro" % database, uri=True)
        try:
            return connection.execute(
                'SELECT * FROM "%s" ORDER BY rowid' % keyword.replace('"', '""')).fetchall()
        finally:
            connection.close()
    except sqlite3.Error:
        return None


def compare(qinglan_db, scrapy_db, keywords, expected):
    """Problems found (empty when both hold every expected row, the same
    rows), and whether the two tables have their rows in the same order."""
    problems, same_order = [], True
    for keyword in keywords:
        wanted = {row["account"] for row in expected[keyword]}
        tables = {}
        for name, database in (("qinglan", qinglan_db), ("scrapy", scrapy_db)):
            rows = stored_rows(database, keyword)
            if rows is None:
                problems.append("%s: %s stored no table" % (keyword, name))
                continue
            accounts = [row[3] for row in rows]  # 用户账号
            if len(rows) != len(wanted) or set(accounts) != wanted:
                problems.append("%s: %s stored %d rows, %d of the %d accounts" % (
                    keyword, name, len(rows), len(set(accounts) & wanted), len(wanted)))
            tables[name] = rows
        if len(tables) == 2:
            only_q = set(tables["qinglan"]) - set(tables["scrapy"])
            only_s = set(tables["scrapy"]) - set(tables["qinglan"])
            if only_q or only_s:
                problems.append("%s: %d rows only qinglan stored, %d only Scrapy, e.g. %r" % (
                    keyword, len(only_q), len(only_s), sorted(only_q or only_s)[0]))
            same_order = same_order and tables["qinglan"] == tables["scrapy"]
    return problems, same_order


def one_case(work, runs, programs, delay_ms, port, keywords, expected):
    hosts = ["127.0.0.1:%d" % port, "127.0.0.1:%d" % port, "localhost:%d" % port]
    members = sum(len(expected[k]) for k in keywords)
    results = {"qinglan": [], "scrapy": []}
    problems, same_order = [], True
    for run in range(1, runs + 1):
        databases = {}
        for name in ("qinglan", "scrapy"):
            data = os.path.join(work, "data-%s" % name)
            shutil.rmtree(data, ignore_errors=True)
            os.makedirs(data)
            if name == "qinglan":
                database = os.path.join(data, "date", "lingshishuj.db")
                command = [programs["qinglan"], "collect", "--data-dir", data,
                           "--search-host", hosts[0], "--member-host", hosts[1],
                           "--contact-domain", hosts[2], "--"] + keywords
            else:
                database = os.path.join(data, "rows.db")
                command = programs["scrapy"] + [database] + hosts + keywords
            result = timed(command, os.path.join(work, "%s.out" % name))
            if result["exit"] != 0:
                with open(os.path.join(work, "%s.out" % name), errors="replace") as out, \
                        open(os.path.join(work, "%s.out.stderr" % name), errors="replace") as err:
                    tail = (out.read() + err.read()).strip().splitlines()[-3:]
                problems.append("run %d: %s exited with %d: %s" % (run, name, result["exit"], " / ".join(tail)))
            results[name].append(result)
            databases[name] = database
        found, order = compare(databases["qinglan"], databases["scrapy"], keywords, expected)
        problems += ["run %d: %s" % (run, p) for p in found]
        same_order = same_order and order
    requests = len(keywords) + 2 * members
    return {"delay_ms": delay_ms, "keywords": len(keywords), "members": members,
            "requests": requests, "bound_s": requests / CONNECTIONS * delay_ms / 1000.0,
            "results": results, "problems": problems, "same_order": same_order}


def median(results, key):
    return statistics.median(r[key] for r in results)


def listed(results, key):
    return " ".join("%.2f" % r[key] for r in results)


def verdict(ok):
    return "PASS" if ok else "FAIL"


def report(cases):
    all_ok = True
    for case in cases:
        q, s = case["results"]["qinglan"], case["results"]["scrapy"]
        q_wall, s_wall = median(q, "wall_s"), median(s, "wall_s")
        ratio = s_wall / q_wall  # qinglan's throughput over Scrapy's
        over_bound = q_wall / case["bound_s"]
        print("%d ms, %d keyword%s of %d members (%d members, %d requests), %d runs each:" % (
            case["delay_ms"], case["keywords"], "" if case["keywords"] == 1 else "s",
            case["members"] // case["keywords"], case["members"], case["requests"], len(q)))
        for name, results, wall in (("qinglan collect", q, q_wall), ("Scrapy spider  ", s, s_wall)):
            print("  %s  wall %.3f s (%s), %.0f members/s, CPU %.2f s (%s)" % (
                name, wall, listed(results, "wall_s"), case["members"] / wall,
                median(results, "cpu_s"), listed(results, "cpu_s")))
        print("  latency bound   %d requests / %d x %d ms = %.3f s; qinglan takes %.2f times that" % (
            case["requests"], CONNECTIONS, case["delay_ms"], case["bound_s"], over_bound))
        print("  rows            %s; row order %s" % (
            "the same rows in both, every member's" if not case["problems"] else "PROBLEMS",
            "the same in both" if case["same_order"] else "differs (Scrapy stores rows as they complete)"))
        for problem in case["problems"][:10]:
            print("  problem: %s" % problem)
        label = "%d ms, %d kw" % (case["delay_ms"], case["keywords"])
        print("verdict %-11s throughput: %s  qinglan/Scrapy %.2f (goal at least %.1f)" % (
            label, verdict(ratio >= THROUGHPUT_GOAL), ratio, THROUGHPUT_GOAL))
        print("verdict %-11s bound:      %s  qinglan/bound %.2f (goal at most %.1f)" % (
            label, verdict(over_bound <= BOUND_GOAL), over_bound, BOUND_GOAL))
        print("verdict %-11s rows:       %s" % (label, verdict(not case["problems"])))
        all_ok = all_ok and ratio >= THROUGHPUT_GOAL and over_bound <= BOUND_GOAL and not case["problems"]
    return 0 if all_ok else 1


def measure(argv):
    work, runs, qinglan, spider_python, spider, expected_path = argv[:6]
    servers, keywords = [], []
    rest = argv[6:]
    split = rest.index("--")
    for pair in rest[:split]:
        delay, port = pair.split("=")
        servers.append((int(delay), int(port)))
    keywords = rest[split + 1:]
    with open(expected_path) as source:
        expected = json.load(source)
    programs = {"qinglan": qinglan, "scrapy": [spider_python, spider]}
    cases = []
    for delay_ms, port in servers:
        for chosen in (keywords[:1], keywords):
            print("measuring: %d ms, %d keyword(s), %s runs" % (delay_ms, len(chosen), runs), flush=True)
            cases.append(one_case(work, int(runs), programs, delay_ms, port, chosen, expected))
    return report(cases)


def main(argv):
    if len(argv) > 9 and argv[1] == "measure" and "--" in argv:
        return measure(argv[2:])
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
