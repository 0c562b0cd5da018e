#!/usr/bin/python3
# The rows of export_bench.cpp, written by openpyxl for comparison: the same
# workbook (headings, then the rows, every cell in the text format "@"), in
# openpyxl's fastest mode. Prints the time of the writing and the process's
# peak memory in export_bench's format.
#
# Usage: /usr/bin/python3 bench/export_rows.py ROWS FILE
import resource
import sys
import time

from openpyxl import Workbook
from openpyxl.cell import WriteOnlyCell

HEADINGS = ["公司名称", "联系人", "用户账户", "部门", "职位", "称呼",
            "电话", "传真", "移动电话", "地址", "邮编", "网站"]
SURNAMES = ["张", "王", "李", "赵", "刘", "陈", "杨", "黄", "周", "吴"]
GIVEN_NAMES = ["伟", "芳", "娜", "敏", "静", "丽", "强", "磊", "军", "洋", "勇", "艳"]
CITIES = [
    ("杭州", "浙江省杭州市西湖区", "0571", "310000", "hz"),
    ("宁波", "浙江省宁波市鄞州区", "0574", "315000", "nb"),
    ("深圳", "广东省深圳市南山区", "0755", "518000", "sz"),
    ("广州", "广东省广州市天河区", "020", "510000", "gz"),
    ("苏州", "江苏省苏州市工业园区", "0512", "215000", "su"),
    ("义乌", "浙江省金华市义乌市", "0579", "322000", "yw"),
]
TRADES = ["电子科技", "服装", "五金制品", "塑料包装", "纺织品",
          "机械设备", "化妆品", "玩具", "家具", "食品"]
STREETS = ["文三路", "解放路", "深南大道", "天河路", "星湖街", "福田路"]
DEPARTMENTS = ["销售部", "外贸部", "市场部", "采购部", "总经理办公室", ""]
POSITIONS = ["经理", "总经理", "销售经理", "业务员", "主管", ""]


def make_row(i):
    name, district, area_code, postal_code, prefix = CITIES[i % 6]
    contact = SURNAMES[i % 10] + GIVEN_NAMES[(i // 10) % 12]
    account = "%s%06d" % (prefix, i)
    return [
        name + contact[0] + TRADES[(i // 6) % 10] + "有限公司",
        contact,
        account,
        DEPARTMENTS[i % 6],
        POSITIONS[(i // 3) % 6],
        "先生" if i % 2 == 0 else "女士",
        "%s-%08d" % (area_code, 80000000 + (i * 7919) % 10000000),
        "" if i % 5 == 0 else "%s-%08d" % (area_code, 80000001 + (i * 7919) % 10000000),
        "1%d%09d" % (3 + i % 6, (i * 104729) % 1000000000),
        "%s%s%d号" % (district, STREETS[i % 6], i % 999 + 1),
        postal_code,
        "" if i % 4 == 0 else "http://" + account + ".cn.alibaba.com",
    ]


def export(rows, path):
    workbook = Workbook(write_only=True)
    sheet = workbook.create_sheet()

    def text_cells(values):
        cells = []
        for value in values:
            # An empty value is a blank cell that keeps the format, as in ours.
            cell = WriteOnlyCell(sheet, value=value if value != "" else None)
            cell.number_format = "@"
            cells.append(cell)
        return cells

    sheet.append(text_cells(HEADINGS))
    for i in range(rows):
        sheet.append(text_cells(make_row(i)))
    workbook.save(path)


def main():
    rows, path = int(sys.argv[1]), sys.argv[2]
    start = time.monotonic()
    export(rows, path)
    seconds = time.monotonic() - start
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0
    print("rows %d seconds %.3f peak_rss_mib %.1f" % (rows, seconds, peak))


if __name__ == "__main__":
    main()
