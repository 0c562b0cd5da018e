#!/usr/bin/env python3
"""Helper of bench/load_bench.sh: writes the marketplace folder of the load,
runs one collecting process while watching it, checks a database against
what the folder holds, and turns the runs into medians and verdicts.

  load_bench.py pages DIR KEYWORDS MEMBERS      the folder and DIR/expected.json
  load_bench.py run RESULT.json -- COMMAND...   run, watch /proc, write the figures
  load_bench.py check RESULT.json DATABASE EXPECTED.json
                                                the rows per table, added to the result
  load_bench.py report WORK RUNS MEMBERS RSS_GOAL_MIB
                                                medians and verdicts of WORK/{bench,collect}-N.json
"""
import json
import os
import random
import re
import sqlite3
import statistics
import subprocess
import sys
import time

# Keywords with their pinyin, which prefixes their members' accounts so that
# an account names the keyword it belongs to.
KEYWORDS = [
    ("手机", "shouji"), ("服装", "fuzhuang"), ("电脑", "diannao"), ("家具", "jiaju"),
    ("茶叶", "chaye"), ("五金", "wujin"), ("灯具", "dengju"), ("玩具", "wanju"),
    ("鞋子", "xiezi"), ("箱包", "xiangbao"), ("化工", "huagong"), ("钢材", "gangcai"),
    ("塑料", "suliao"), ("纺织", "fangzhi"), ("陶瓷", "taoci"), ("水泵", "shuibeng"),
    ("轴承", "zhoucheng"), ("电缆", "dianlan"), ("食品", "shipin"), ("印刷", "yinshua"),
]
CITIES = [
    ("浙江省", "杭州市", "西湖区", "0571", "310000"), ("广东省", "深圳市", "南山区", "0755", "518057"),
    ("江苏省", "苏州市", "工业园区", "0512", "215000"), ("福建省", "泉州市", "丰泽区", "0595", "362000"),
    ("山东省", "青岛市", "城阳区", "0532", "266100"), ("河北省", "保定市", "竞秀区", "0312", "071000"),
    ("广东省", "东莞市", "长安镇", "0769", "523850"), ("浙江省", "义乌市", "稠城街道", "0579", "322000"),
]
STREETS = ["文三路", "科技园南路", "星湖街", "丰泽街", "长江中路", "朝阳北大街", "振安路", "宾王路"]
SURNAMES = "王李张刘陈杨黄赵吴周徐孙马朱胡郭何高林罗郑梁谢宋唐许韩冯邓曹彭曾"
GIVEN = ["伟", "芳", "娜", "秀英", "敏", "静", "丽", "强", "磊", "军", "洋", "勇", "艳", "杰", "娟", "涛"]
TRADE = ["贸易", "实业", "电子", "科技", "制造", "工贸", "进出口", "商贸"]
DEPARTMENTS = ["销售部", "市场部", "外贸部", "业务部", "采购部", "总经办"]
TITLES = ["销售经理", "总经理", "业务员", "外贸主管", "市场总监", "客服专员"]
# Mobile numbers keep their one "1" in front, so no other prefix of the
# program's list can be found inside them.
MOBILE_PREFIXES = ["139", "138", "137", "136", "135", "150", "158", "186", "188", "189"]
MOBILE_DIGITS = "023456789"


def accounts_of(pinyin, members):
    return ["%s%04d" % (pinyin, i) for i in range(1, members + 1)]


def person(rng):
    return rng.choice(SURNAMES) + rng.choice(GIVEN)


def member_pages(rng, keyword, account, i):
    province, city, district, area, zip_code = rng.choice(CITIES)
    company = "%s%s%s%s有限公司" % (city[:-1], rng.choice("青岚恒远华信鑫达宏盛永泰金桥"),
                                  keyword, rng.choice(TRADE))
    contact = person(rng)
    mobile = rng.choice(MOBILE_PREFIXES) + "".join(rng.choice(MOBILE_DIGITS) for _ in range(8))
    address = "%s%s%s%s%d号%d幢%d楼" % (province, city, district, rng.choice(STREETS),
                                      rng.randint(1, 999), rng.randint(1, 20), rng.randint(1, 12))
    scope = "主营%s及相关配件的研发、生产与销售，支持来样定制，欢迎来电洽谈" % keyword
    card = ('{"result":{"name":"%s","success":"true","contact":{"id":"%d","name":"%s",'
            '"memberId":"%s","department":"%s","title":"%s","sex":"%s","telephone":"%s-%08d",'
            '"fax":"%s-%08d","address":"%s","zipCode":"%s","homePage":"[http://%s.cn.alibaba.com]",'
            '"mainProduct":"%s","end":""}}}') % (
        company, 100000 + i, contact, account, rng.choice(DEPARTMENTS), rng.choice(TITLES),
        rng.choice("mf"), area, rng.randint(10**7, 10**8 - 1), area, rng.randint(10**7, 10**8 - 1),
        address, zip_code, account, scope * rng.randint(0, 3))
    rows = "".join("<tr><td>%s</td><td>%s</td></tr>\n" % pair for pair in [
        ("公司名称", company), ("联系人", contact), ("手机", mobile), ("地址", address),
        ("邮编", zip_code), ("经营范围", scope)])
    filler = "".join("<p>%s%s，%s。</p>\n" % (company, rng.choice(["诚信经营", "品质保证", "厂家直销"]), scope)
                     for _ in range(rng.randint(20, 50)))
    contact_page = ("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">"
                    "<title>%s %s %s</title></head><body><div class=\"contact\"><table>\n%s</table></div>\n"
                    "%s</body></html>") % (company, contact, mobile, rows, filler)
    return card, contact_page, {"account": account, "company": company, "mobile": mobile}


def write(path, text):
    with open(path, "wb") as out:
        out.write(text.encode("gbk"))


def pages(folder, keyword_count, members, keywords=KEYWORDS):
    """Writes the folder for the first keyword_count of keywords, pairs of
    a keyword and the prefix of its members' accounts."""
    rng = random.Random(20240606)
    for sub in ("search", "card", "contact"):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
    expected = {}
    sizes = {"card": [], "contact": []}
    for keyword, pinyin in keywords[:keyword_count]:
        encoded = "".join("%%%02X" % b for b in keyword.encode("gb2312"))
        items, rows = [], []
        for i, account in enumerate(accounts_of(pinyin, members)):
            card, contact_page, row = member_pages(rng, keyword, account, i)
            write(os.path.join(folder, "card", account + ".json"), card)
            write(os.path.join(folder, "contact", account + ".html"), contact_page)
            sizes["card"].append(len(card.encode("gbk")))
            sizes["contact"].append(len(contact_page.encode("gbk")))
            items.append('<li class="company"><a href="http://s.1688.com/offer?companyId="%s" '
                         'target="_blank">%s</a></li>\n' % (account, row["company"]))
            rows.append(row)
        write(os.path.join(folder, "search", encoded + ".html"),
              "<html><head><title>%s - 公司搜索</title></head><body><ul>\n%s</ul></body></html>"
              % (keyword, "".join(items)))
        expected[keyword] = rows
    with open(os.path.join(folder, "expected.json"), "w") as out:
        json.dump(expected, out, ensure_ascii=False)
    for kind, values in sizes.items():
        print("%s pages: %d, %d to %d bytes (median %d)" % (
            kind, len(values), min(values), max(values), statistics.median(values)))
    print(" ".join(k for k, _ in keywords[:keyword_count]))


def descriptor_count(pid):
    try:
        return len(os.listdir("/proc/%d/fd" % pid))
    except OSError:
        return None


def thread_count(pid):
    try:
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith("Threads:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def run(result_path, command):
    stdout_path = result_path + ".stdout"
    stderr_path = result_path + ".stderr"
    target = os.path.realpath(command[0])
    with open(stdout_path, "wb") as out, open(stderr_path, "wb") as err:
        start = time.monotonic()
        child = subprocess.Popen(command, stdout=out, stderr=err)
        samples, threads = [], []
        # Until the exec has happened /proc shows this interpreter's
        # descriptors, which are not the program's.
        started = False
        while True:
            finished, status, usage = os.wait4(child.pid, os.WNOHANG)
            if finished:
                break
            if not started:
                try:
                    started = os.readlink("/proc/%d/exe" % child.pid) == target
                except OSError:
                    pass
                if not started:
                    time.sleep(0.001)
                    continue
            count = descriptor_count(child.pid)
            if count is not None:
                samples.append(count)
            count = thread_count(child.pid)
            if count is not None:
                threads.append(count)
            time.sleep(0.1)
        wall = time.monotonic() - start
        child.returncode = os.waitstatus_to_exitcode(status)
    with open(stdout_path, encoding="utf-8", errors="replace") as out:
        stdout = out.read()
    result = {
        "command": os.path.basename(command[0]),
        "exit": child.returncode,
        "wall_s": wall,
        "max_rss_mib": usage.ru_maxrss / 1024.0,
        "fd_first": samples[0] if samples else None,
        "fd_max": max(samples) if samples else None,
        "fd_last": samples[-1] if samples else None,
        "fd_samples": len(samples),
        "threads_max": max(threads) if threads else None,
        "stdout": stdout,
    }
    with open(result_path, "w") as out:
        json.dump(result, out, ensure_ascii=False)


def check(result_path, database, expected_path):
    with open(expected_path) as source:
        expected = json.load(source)
    owner = {row["account"]: keyword for keyword, rows in expected.items() for row in rows}
    total, problems, per_table = 0, [], {}
    try:
        connection = sqlite3.connect("file:%s?mode=ro" % database, uri=True)
        tables = [name for (name,) in connection.execute(
            "SELECT name FROM sqlite_master WHERE type='table' ORDER BY rowid")]
    except sqlite3.Error as error:
        tables, problems = [], ["%s: %s" % (database, error)]
    for keyword, rows in expected.items():
        if keyword not in tables:
            problems.append("%s: no table" % keyword)
            continue
        quoted = '"%s"' % keyword.replace('"', '""')
        stored = connection.execute(
            'SELECT "用户账号", "公司名称", "移动电话" FROM %s' % quoted).fetchall()
        total += len(stored)
        per_table[keyword] = len(stored)
        want = {row["account"]: row for row in rows}
        seen = {}
        for account, company, mobile in stored:
            seen[account] = seen.get(account, 0) + 1
            row = want.get(account)
            if row is None:
                problems.append("%s: account %r (of %s)" % (keyword, account, owner.get(account, "nobody")))
            elif (company, mobile) != (row["company"], row["mobile"]):
                problems.append("%s: %s stored as %r, %r" % (keyword, account, company, mobile))
        twice = [a for a, n in seen.items() if n > 1]
        missing = [a for a in want if a not in seen]
        if twice:
            problems.append("%s: %d accounts stored more than once, e.g. %s" % (keyword, len(twice), twice[0]))
        if missing:
            problems.append("%s: %d accounts missing, e.g. %s" % (keyword, len(missing), missing[0]))
    extra = [t for t in tables if t not in expected and t != "123" and not t.startswith("MSys")]
    if extra:
        problems.append("tables nobody asked for: %s" % ", ".join(extra))
    with open(result_path) as source:
        result = json.load(source)
    result.update({"rows": total, "rows_wanted": sum(len(rows) for rows in expected.values()),
                   "tables_wanted": len(expected), "per_table": per_table, "problems": problems})
    with open(result_path, "w") as out:
        json.dump(result, out, ensure_ascii=False)


def in_process_descriptors(stdout):
    """(before engine, after engine, at start, at end) from load_bench's own lines."""
    around = re.search(r"descriptors around the engine: (\d+) before, (\d+) after", stdout)
    process = re.search(r"descriptors of the process: (\d+) at start, (\d+) at end", stdout)
    if not around or not process:
        return None
    return tuple(int(v) for v in around.groups() + process.groups())


def summary_lines(stdout):
    return [line for line in stdout.splitlines() if re.match(r".+: (collected|stopped|not)", line)]


def median_of(results, key):
    values = [r[key] for r in results if r.get(key) is not None]
    return statistics.median(values) if values else float("nan")


def listed(results, key, form):
    return " ".join("-" if r.get(key) is None else form % r[key] for r in results)


def print_program(title, results, work, name):
    print("%s, %d runs (medians, then each run):" % (title, len(results)))
    print("  rows stored       %d of %d  (%s)" % (median_of(results, "rows"), results[0]["rows_wanted"],
                                                   listed(results, "rows", "%d")))
    print("  wall time         %.2f s  (%s)" % (median_of(results, "wall_s"), listed(results, "wall_s", "%.2f")))
    print("  max RSS           %.1f MiB  (%s)" % (median_of(results, "max_rss_mib"),
                                                 listed(results, "max_rss_mib", "%.1f")))
    print("  peak threads      %g  (%s)" % (median_of(results, "threads_max"), listed(results, "threads_max", "%d")))
    print("  descriptors seen from outside: first %g, peak %g, last sample %g  (peaks: %s; samples: %s)" % (
        median_of(results, "fd_first"), median_of(results, "fd_max"), median_of(results, "fd_last"),
        listed(results, "fd_max", "%d"), listed(results, "fd_samples", "%d")))
    if name == "bench":
        for run, result in enumerate(results, 1):
            count = in_process_descriptors(result["stdout"])
            print("  run %d, counted in the process: %s" % (run, (
                "%d before the engine, %d after it; %d at the start, %d at the end" % count)
                if count else "no counts printed"))
    print("  exit status       %s" % listed(results, "exit", "%d"))
    for run, result in enumerate(results, 1):
        for problem in result["problems"][:10]:
            print("  run %d problem: %s" % (run, problem))
        if result["exit"] != 0:
            with open(os.path.join(work, "%s-%d.json.stderr" % (name, run)), errors="replace") as err:
                for line in err.read().splitlines()[-3:]:
                    print("  run %d stderr: %s" % (run, line))


def report(work, runs, members, rss_goal):
    programs = {}
    for name in ("bench", "collect"):
        programs[name] = []
        for run in range(1, runs + 1):
            with open(os.path.join(work, "%s-%d.json" % (name, run))) as source:
                programs[name].append(json.load(source))
    print_program("load_bench (the engine in one process)", programs["bench"], work, "bench")
    print_program("qinglan collect", programs["collect"], work, "collect")
    print("qinglan collect's summary lines (last run):")
    for line in summary_lines(programs["collect"][-1]["stdout"]):
        print("  " + line)

    every = programs["bench"] + programs["collect"]
    wanted = every[0]["rows_wanted"]
    rows_ok = all(not r["problems"] and r["rows"] == wanted for r in every)
    peak = {name: max(r["max_rss_mib"] for r in results) for name, results in programs.items()}
    memory_ok = max(peak.values()) < rss_goal
    counts = [in_process_descriptors(r["stdout"]) for r in programs["bench"]]
    fds_ok = all(c and c[0] == c[1] and c[2] == c[3] for c in counts)
    good_line = re.compile(r".+: collected %d of %d members, %d rows stored$" % (members, members, members))
    collect_ok = all(r["exit"] == 0 and len(summary_lines(r["stdout"])) == r["tables_wanted"] and
                     all(good_line.match(line) for line in summary_lines(r["stdout"]))
                     for r in programs["collect"])
    bench_ok = all(r["exit"] == 0 for r in programs["bench"])
    verdict = lambda ok: "PASS" if ok else "FAIL"
    print("verdict rows:        %s  %d of %d rows (fewest of a run), %d per table, each keyword's accounts exactly "
          "once and no other's, in all %d runs" % (verdict(rows_ok), min(r["rows"] for r in every), wanted,
                                                   members, len(every)))
    print("verdict memory:      %s  highest max RSS %.1f MiB (load_bench), %.1f MiB (qinglan collect); "
          "goal under %d MiB" % (verdict(memory_ok), peak["bench"], peak["collect"], rss_goal))
    print("verdict descriptors: %s  back to the starting number after the engine and after the store, "
          "in every run (peak seen %d)" % (verdict(fds_ok), max(r["fd_max"] or 0 for r in every)))
    print("verdict completion:  %s  exit status 0 and every keyword collected %d of %d members, "
          "%d rows stored, in every run of both" % (verdict(collect_ok and bench_ok), members, members, members))
    return 0 if rows_ok and memory_ok and fds_ok and collect_ok and bench_ok else 1


def main(argv):
    if len(argv) == 5 and argv[1] == "pages":
        pages(argv[2], int(argv[3]), int(argv[4]))
        return 0
    if len(argv) > 4 and argv[1] == "run" and argv[3] == "--":
        run(argv[2], argv[4:])
        return 0
    if len(argv) == 5 and argv[1] == "check":
        check(argv[2], argv[3], argv[4])
        return 0
    if len(argv) == 6 and argv[1] == "report":
        return report(argv[2], int(argv[3]), int(argv[4]), float(argv[5]))
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
