#!/usr/bin/env python3
"""Helper of bench/profile_collect.sh: writes one marketplace folder that
serves the same number of members in both shapes, the built-in one (one
search page of all members, GBK, with load_bench.py's generator) and the
shop of sites/sample_shop.ini (UTF-8 result pages with a promoted member
repeated at the top of every page after the first, JSON cards, HTML contact
pages with character references and as much text as the built-in ones),
and turns the timed runs into medians, a ratio and a verdict.

  profile_collect.py pages DIR KEYWORD MEMBERS PAGES
  profile_collect.py report BUILT_IN_ROWS PROFILE_ROWS MEMBERS -- BUILT_IN_S... -- PROFILE_S...
"""
import contextlib
import io
import os
import random
import statistics
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import load_bench  # noqa: E402  (the built-in shape's generator and its word lists)

RATIO_GOAL = 1.2


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(text.encode("utf-8"))


def shop_member(rng, keyword, account):
    province, city, district, area, zip_code = rng.choice(load_bench.CITIES)
    company = "%s%s%s%s有限公司" % (city[:-1], rng.choice("青岚恒远华信鑫达宏盛永泰金桥"),
                                  keyword, rng.choice(load_bench.TRADE))
    person = rng.choice(load_bench.SURNAMES) + rng.choice(load_bench.GIVEN)
    card = ('{"success":true,"member":{"memberId":"%s","company":"%s","contact":"%s",'
            '"department":"%s","position":"%s","salutation":"%s","website":"http:\\/\\/%s.example.cn\\/"}}'
            % (account, company, person, rng.choice(load_bench.DEPARTMENTS),
               rng.choice(load_bench.TITLES), rng.choice(["先生", "女士"]), account))
    scope = "主营%s及相关配件的研发、生产与销售，支持来样定制，欢迎来电洽谈" % keyword
    filler = "".join("<p>%s%s，%s。</p>\n" % (company, rng.choice(["诚信经营", "品质保证", "厂家直销"]), scope)
                     for _ in range(rng.randint(20, 50)))
    contact = ("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>联系方式 - %s</title>\n"
               "</head>\n<body>\n<h1 class=\"company\">%s</h1>\n<dl class=\"contact\">\n"
               "  <dt>电话</dt>\n  <dd>%s-%08d &#x8F6C; 8001</dd>\n  <dt>传真</dt>\n  <dd>%s-%08d</dd>\n"
               "  <dt>手机</dt>\n  <dd>&nbsp;%s%s&nbsp;</dd>\n"
               "  <dt>地址</dt>\n  <dd>%s%s%s%s<b>%d</b>号 A&amp;B座</dd>\n  <dt>邮编</dt>\n  <dd>%s</dd>\n"
               "</dl>\n%s</body>\n</html>\n") % (
        company, company, area, rng.randint(10**7, 10**8 - 1), area, rng.randint(10**7, 10**8 - 1),
        rng.choice(load_bench.MOBILE_PREFIXES), "".join(rng.choice(load_bench.MOBILE_DIGITS) for _ in range(8)),
        province, city, district, rng.choice(load_bench.STREETS), rng.randint(1, 999), zip_code, filler)
    return company, card, contact


def result_page(keyword, number, items):
    return ("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>%s - 公司搜索 - 示例市场</title>\n"
            "</head>\n<body>\n<ul class=\"results\">\n%s</ul>\n<div class=\"pager\">第 %d 页</div>\n"
            "</body>\n</html>\n") % (keyword, "".join(items), number)


def shop_pages(folder, keyword, members, pages):
    """Page 1 lists the promoted member among its share; every later page
    lists it again at its top, then its own share."""
    rng = random.Random(20261208)
    encoded = "".join("%%%02X" % b for b in keyword.encode("utf-8"))
    share = members // pages
    counts, items = [], []
    for i in range(members):
        account = "dianpu%04d" % (i + 1)
        company, card, contact = shop_member(rng, keyword, account)
        write(os.path.join(folder, "shop", "card", account + ".json"), card)
        write(os.path.join(folder, "shop", "contact", account + ".html"), contact)
        kind = "promoted" if i == 0 else "company"
        items.append('  <li class="%s" data-member="%s">\n    <a href="http://%s.shop.example.cn/">%s</a>\n  </li>\n'
                     % (kind, account, account, company))
    for number in range(1, pages + 1):
        start = (number - 1) * share
        end = members if number == pages else start + share
        listed = ([items[0]] if number > 1 else []) + items[start:end]
        write(os.path.join(folder, "shop", "search", encoded, "%d.html" % number),
              result_page(keyword, number, listed))
        counts.append(len(listed))
    return counts


def pages(folder, keyword, members, pages_count):
    said = io.StringIO()
    with contextlib.redirect_stdout(said):
        load_bench.pages(folder, 1, members, [(keyword, "shouji")])
    for line in said.getvalue().splitlines():
        if " pages: " in line:
            print("built-in " + line)
    listed = shop_pages(folder, keyword, members, pages_count)
    print("shop: %d result pages listing %s accounts (the promoted one repeated)"
          % (pages_count, " + ".join(str(n) for n in listed)))


def report(built_in_rows, profile_rows, members, built_in, profile):
    built_in_median = statistics.median(built_in)
    profile_median = statistics.median(profile)
    ratio = profile_median / built_in_median
    runs = lambda values: " ".join("%.3f" % v for v in values)
    print("built-in site: median %.3f s  (runs: %s), rows stored %s" % (built_in_median, runs(built_in), built_in_rows))
    print("site profile:  median %.3f s  (runs: %s), rows stored %s" % (profile_median, runs(profile), profile_rows))
    print("ratio profile / built-in: %.3f" % ratio)
    good = ratio <= RATIO_GOAL and built_in_rows == str(members) and profile_rows == str(members)
    print("verdict: %s  profile / built-in %.3f (goal at most %.1f), rows %s and %s of %d" % (
        "PASS" if good else "FAIL", ratio, RATIO_GOAL, built_in_rows or "none", profile_rows or "none", members))


def main(argv):
    if len(argv) == 6 and argv[1] == "pages":
        pages(argv[2], argv[3], int(argv[4]), int(argv[5]))
    elif len(argv) > 5 and argv[1] == "report" and argv[5] == "--":
        rest = argv[6:]
        split = rest.index("--")
        report(argv[2], argv[3], int(argv[4]), [float(v) for v in rest[:split]],
               [float(v) for v in rest[split + 1:]])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
