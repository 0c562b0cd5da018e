#!/usr/bin/env python3
"""A Scrapy spider that collects keywords as `qinglan collect` does, for
bench/scrapy_compare.sh: the same three requests per keyword and member, the
same headers, the twelve fields cut out with the same patterns and rules, and
one SQLite table per keyword with the same columns.

  scrapy_spider.py DATABASE SEARCH_HOST MEMBER_HOST CONTACT_DOMAIN KEYWORD...

Hosts are HOST[:PORT], as qinglan's --search-host, --member-host and
--contact-domain take them. Contact pages live on ACCOUNT.CONTACT_DOMAIN: the
spider's resolver answers 127.0.0.1 for every name under "localhost" and
refuses any other name, so nothing is ever looked up elsewhere. Prints one
JSON line of counts. Runs with Debian's python3-scrapy (2.8).
"""
import codecs
import json
import re
import sqlite3
import sys

import scrapy
from scrapy.crawler import CrawlerProcess
from twisted.internet import defer
from twisted.internet.error import DNSLookupError
from twisted.internet.interfaces import IResolverSimple
from zope.interface import implementer

USER_AGENT = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)"
CALLBACK = "jQuery16405435396444518119_1324703458289"

# Record fields in qinglan's order, and the stored column of each.
(COMPANY, CONTACT, ACCOUNT, DEPARTMENT, POSITION, FORM_OF_ADDRESS, TELEPHONE, FAX, MOBILE,
 ADDRESS, POSTAL_CODE, WEBSITE) = range(12)
COLUMNS = ["公司名称", "联系人", "用户账号", "部门", "职位", "称呼",
           "电话", "传真", "移动电话", "地址", "邮编", "网站"]
CREATE_COLUMNS = ('("编号" TEXT, "地址" TEXT, "公司名称" TEXT, "用户账号" TEXT, "电话" TEXT, '
                  '"传真" TEXT, "称呼" TEXT, "移动电话" TEXT, "职位" TEXT, "联系人" TEXT, '
                  '"邮编" TEXT, "部门" TEXT, "网站" TEXT)')

# The card patterns, in the order qinglan tries them. Boost's perl syntax
# lets "." match a line break, hence DOTALL; they run on the GBK bytes.
CARD_PATTERNS = [
    (COMPANY, rb'"name":"(.*?)","'),
    (CONTACT, rb'","name":"(.*?)","m'),
    (ACCOUNT, rb'memberId":"(.*?)","'),
    (DEPARTMENT, rb'"department":"(.*?)","'),
    (POSITION, rb'"title":"(.*?)","'),
    (FORM_OF_ADDRESS, rb'"sex":"(.*?)","'),
    (TELEPHONE, rb'"telephone":"(.*?)","'),
    (FAX, rb'"fax":"(.*?)","'),
    (ADDRESS, rb'"address":"(.*?)","'),
    (POSTAL_CODE, rb'"zipCode":"(.*?)","'),
]
TITLE_PATTERN = rb"<title>(.*?)</title>"
COMPILED = [(field, text, re.compile(text, re.DOTALL)) for field, text in CARD_PATTERNS]
TITLE = re.compile(TITLE_PATTERN, re.DOTALL)
MOBILE_PREFIXES = [p.encode() for p in (
    "130", "131", "132", "133", "134", "135", "136", "137", "138", "139", "147", "150", "151",
    "152", "153", "155", "156", "157", "158", "159", "180", "182", "185", "186", "187", "188",
    "189")]


def one_byte_each(error):
    # Like qinglan's converter: one replacement per byte that does not decode.
    replacement = "\ufffd" if isinstance(error, UnicodeDecodeError) else "?"
    return replacement, error.start + 1


codecs.register_error("qinglan_bytewise", one_byte_each)


def gbk_to_utf8(data):
    return data.decode("gb18030", "qinglan_bytewise")


# -- qinglan's text functions: 1-based positions, -1 for "not found", and a
# find that only accepts matches on a GBK character boundary.

def find_text(text, sought, start=1):
    begin = 0 if start < 1 else start - 1
    if begin >= len(text):
        return -1
    if not sought:
        return 1
    at, run_start, run_end = begin, begin, begin
    while at + len(sought) <= len(text):
        q = text.find(sought, at)
        if q < 0:
            return -1
        s = q
        while s > begin and text[s - 1] >= 0x80:
            if s == run_end and run_end > run_start:
                s = run_start
                break
            s -= 1
        run_start, run_end = s, q
        if (q - s) % 2 == 0:
            return q + 1
        at = q + 1
    return -1


def mid_text(text, start, n):
    if start < 1 or n <= 0 or start > len(text):
        return b""
    return text[start - 1:start - 1 + n]


def left_text(text, n):
    return text[:n] if n > 0 else b""


def page_text(body, content_type):
    """The page as GBK bytes: cut at a NUL, converted when it declares UTF-8."""
    text = body.split(b"\0", 1)[0]
    declared = charset_of(content_type.lower())
    if declared is None:
        head = text[:1024].lower()
        tag = head.find(b"<meta")
        while tag != -1:
            end = head.find(b">", tag)
            element = head[tag:] if end == -1 else head[tag:end]
            if b"charset=" in element:
                declared = charset_of(element)
                break
            tag = head.find(b"<meta", tag + 5)
    if declared != "utf-8":
        return text
    return text.decode("utf-8", "qinglan_bytewise").encode("gb18030", "qinglan_bytewise")


def charset_of(lower):
    at = lower.find(b"charset=")
    if at == -1:
        return None
    name = lower[at + 8:].lstrip(b"\"' ")
    if name.startswith(b"utf-8") or name.startswith(b"utf8"):
        return "utf-8"
    return "other" if name else None


def scan_member_accounts(page):
    accounts, position = [], 1
    while True:
        mark = find_text(page, b"companyId=", position + 1)
        if mark == -1:
            return accounts
        window = mid_text(page, mark + 11, 50)
        account = left_text(window, find_text(window, b'"') - 1)
        if account:
            accounts.append(account)
        position = mark


def first_group(pattern_text, pattern, text):
    # qinglan's guard against quadratic searches; the answer is the same.
    opening, closing = pattern_text.split(b"(.*?)")
    at = text.find(opening)
    if at == -1 or text.find(closing, at + len(opening)) == -1:
        return b""
    match = pattern.search(text)
    return match.group(1) if match else b""


def extract_mobile(contact_page):
    title = first_group(TITLE_PATTERN, TITLE, contact_page)
    for prefix in MOBILE_PREFIXES:
        position = find_text(title, prefix)
        if position == -1:
            continue
        candidate = mid_text(title, position, 11)
        return candidate if all(0x30 <= b <= 0x39 for b in candidate) else b""
    return b""


def extract_website(card):
    key = find_text(card, b"homePage")
    if key == -1:
        return b""
    window = mid_text(card, key + 12, 200)
    return left_text(window, find_text(window, b"]") - 1)


def extract_contact_record(card, contact_page):
    record = [""] * 12
    for field, text, pattern in COMPILED:
        value = first_group(text, pattern, card)
        if field == FORM_OF_ADDRESS:
            record[field] = "先生" if value == b"m" else "女士"
        else:
            record[field] = gbk_to_utf8(value)
    record[MOBILE] = gbk_to_utf8(extract_mobile(contact_page))
    record[WEBSITE] = gbk_to_utf8(extract_website(card))
    return record


def encode_keyword(keyword):
    """Every byte of the keyword's GBK (code page 936) form as %XX; a keyword
    with a character GBK lacks cannot be searched, as in the collector."""
    data = b""
    for c in keyword:
        try:
            # Python's gbk lacks the euro sign that code page 936 has as 0x80.
            data += b"\x80" if c == "\u20ac" else c.encode("gbk")
        except UnicodeEncodeError:
            raise SystemExit("U+%04X is not a GBK character: the keyword cannot be searched"
                             % ord(c))
    return "".join("%%%02X" % b for b in data)


def address(host, prefix=""):
    for scheme in ("https://", "http://"):
        if host.startswith(scheme):
            return scheme + prefix + host[len(scheme):]
    return "http://" + prefix + host


def quote_name(name):
    return '"%s"' % name.replace('"', '""')


@implementer(IResolverSimple)
class LoopbackResolver:
    """Answers 127.0.0.1 for localhost and every name under it, and fails
    any other name without asking anybody."""

    def __init__(self, reactor):
        self.reactor = reactor

    @classmethod
    def from_crawler(cls, crawler, reactor):
        return cls(reactor)

    def install_on_reactor(self):
        self.reactor.installResolver(self)

    def getHostByName(self, name, timeout=None):
        if name == "localhost" or name.endswith(".localhost"):
            return defer.succeed("127.0.0.1")
        return defer.fail(DNSLookupError("only names under localhost resolve here: " + name))


class RowStore:
    """One table per keyword, one transaction per row as qinglan writes."""

    def open_spider(self, spider):
        self.db = sqlite3.connect(spider.database, isolation_level=None)
        self.db.execute("PRAGMA journal_mode=WAL")
        self.db.execute("PRAGMA synchronous=NORMAL")
        for keyword in spider.keywords:
            self.db.execute("CREATE TABLE IF NOT EXISTS %s %s" % (quote_name(keyword), CREATE_COLUMNS))
        self.inserts = {k: 'INSERT INTO %s (%s) VALUES (%s)' % (
            quote_name(k), ",".join(quote_name(c) for c in COLUMNS), ",".join("?" * 12))
            for k in spider.keywords}

    def process_item(self, item, spider):
        self.db.execute("BEGIN IMMEDIATE")
        self.db.execute(self.inserts[item["keyword"]], item["record"])
        self.db.execute("COMMIT")
        spider.counts["rows"] += 1
        return item

    def close_spider(self, spider):
        self.db.close()


class MarketplaceSpider(scrapy.Spider):
    name = "marketplace"

    def __init__(self, database, hosts, keywords, **kwargs):
        super().__init__(**kwargs)
        self.database = database
        self.search_host, self.member_host, self.contact_domain = hosts
        self.keywords = keywords
        self.members = {}  # (keyword, index) -> what came back so far
        self.counts = {"members": 0, "rows": 0, "failed_pages": 0, "failed_members": 0,
                       "searches_failed": 0}

    def start_requests(self):
        for keyword in self.keywords:
            url = "%s/company/company_search.htm?keywords=%s&n=y" % (
                address(self.search_host), encode_keyword(keyword))
            yield scrapy.Request(url, callback=self.search_done, errback=self.search_failed,
                                 cb_kwargs={"keyword": keyword})

    def search_failed(self, failure):
        self.counts["searches_failed"] += 1

    def search_done(self, response, keyword):
        if failed(response):
            self.counts["searches_failed"] += 1
            return
        page = page_text(response.body, content_type(response))
        accounts = scan_member_accounts(page)
        self.counts["members"] += len(accounts)
        for index, raw in enumerate(accounts):
            # Accounts are ASCII on the marketplace; a GBK one would be sent
            # percent-encoded here where qinglan sends its bytes as they are.
            account = gbk_to_utf8(raw)
            key = (keyword, index)
            self.members[key] = {}
            card = "%s/member/ajax/memberCardJson.htm?callback=%s&loginId=%s&checkLogin=y" % (
                address(self.member_host), CALLBACK, account)
            contact = "%s/athena/contact/%s.html" % (address(self.contact_domain, account + "."), account)
            for url, which in ((card, "card"), (contact, "contact")):
                yield scrapy.Request(url, callback=self.page_done, errback=self.page_failed,
                                     cb_kwargs={"key": key, "which": which})

    def page_failed(self, failure):
        given = failure.request.cb_kwargs
        yield from self.arrived(given["key"], given["which"], None)

    def page_done(self, response, key, which):
        text = None if failed(response) else page_text(response.body, content_type(response))
        yield from self.arrived(key, which, text)

    def arrived(self, key, which, text):
        if text is None:
            self.counts["failed_pages"] += 1
        member = self.members[key]
        member[which] = text
        if len(member) < 2:
            return
        del self.members[key]
        if member["card"] is None or member["contact"] is None:
            self.counts["failed_members"] += 1
            return
        yield {"keyword": key[0], "record": extract_contact_record(member["card"], member["contact"])}


def failed(response):
    return response.status == 429 or response.status >= 500


def content_type(response):
    return response.headers.get(b"Content-Type") or b""


def settings():
    return {
        "CONCURRENT_REQUESTS": 16,
        "CONCURRENT_REQUESTS_PER_DOMAIN": 8,
        "DOWNLOAD_DELAY": 0,
        "AUTOTHROTTLE_ENABLED": False,
        "ROBOTSTXT_OBEY": False,
        # Nothing fails in the benchmark; qinglan's retries wait 1, 2 and 4 s,
        # which Scrapy's retry middleware has no way to do.
        "RETRY_ENABLED": False,
        "REDIRECT_MAX_TIMES": 10,
        "DOWNLOAD_TIMEOUT": 120,
        # HTTP/1.0 and the same headers: no compression, no Referer, no
        # Accept-Language.
        "DOWNLOAD_HANDLERS": {"http": "scrapy.core.downloader.handlers.http10.HTTP10DownloadHandler"},
        "USER_AGENT": USER_AGENT,
        "DEFAULT_REQUEST_HEADERS": {"Accept": "*/*"},
        "COMPRESSION_ENABLED": False,
        "REFERER_ENABLED": False,
        # A 404 page is a page for qinglan; 429 and 5xx are failures.
        "HTTPERROR_ALLOW_ALL": True,
        "DNS_RESOLVER": LoopbackResolver,
        "ITEM_PIPELINES": {RowStore: 300},
        "TELNETCONSOLE_ENABLED": False,
        "LOG_LEVEL": "ERROR",
    }


def main(argv):
    if len(argv) < 6:
        sys.stderr.write(__doc__)
        return 2
    database, hosts, keywords = argv[1], tuple(argv[2:5]), argv[5:]
    process = CrawlerProcess(settings())
    crawler = process.create_crawler(MarketplaceSpider)
    process.crawl(crawler, database=database, hosts=hosts, keywords=keywords)
    process.start()
    spider = crawler.spider
    stats = crawler.stats.get_stats()
    counts = dict(spider.counts)
    counts["requests"] = stats.get("downloader/request_count", 0)
    counts["responses"] = stats.get("downloader/response_count", 0)
    counts["exceptions"] = stats.get("downloader/exception_count", 0)
    counts["left_unpaired"] = len(spider.members)
    print(json.dumps(counts))
    complete = (counts["rows"] == counts["members"] and not counts["searches_failed"])
    return 0 if complete else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
