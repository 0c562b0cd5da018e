#!/usr/bin/python3
# Reads an exported file back with readers that are not the writer: openpyxl
# for a workbook (with the escapes undone as
# Excel does), Python's csv module for a CSV file. Prints one line per
# sheet, "SHEET" and its name, then one line per row: each cell's UTF-8 as
# hex, "-" for a blank cell, separated by spaces. A workbook cell that is not
# a text in the text format "@" is reported on stderr with exit status 1.
#
# Usage: /usr/bin/python3 read_back.py FILE
import csv
import re
import sys

# openpyxl 3.0 leaves the format's "_xHHHH_" escapes in a cell's text;
# Excel and LibreOffice undo them from left to right, and so does this.
ESCAPE = re.compile("_x([0-9A-Fa-f]{4})_")


def shown(value):
    if not isinstance(value, str):
        return value
    return ESCAPE.sub(lambda match: chr(int(match.group(1), 16)), value)


def hex_of(value):
    return "-" if value is None else value.encode("utf-8", "surrogatepass").hex()


def read_workbook(path):
    import openpyxl
    bad = []
    for sheet in openpyxl.load_workbook(path).worksheets:
        print("SHEET", hex_of(sheet.title))
        for row in sheet.iter_rows():
            for cell in row:
                if cell.number_format != "@" or not isinstance(cell.value, (str, type(None))):
                    bad.append(cell.coordinate)
            print(" ".join(hex_of(shown(cell.value)) for cell in row))
    if bad:
        sys.exit("not texts in the text format: " + " ".join(bad[:20]))


def read_csv(path):
    with open(path, "rb") as raw:
        if raw.read(3) != b"\xef\xbb\xbf":
            sys.exit("no byte-order mark")
    csv.field_size_limit(1 << 24)
    with open(path, newline="", encoding="utf-8-sig") as text:
        print("SHEET", hex_of(""))
        for row in csv.reader(text):
            print(" ".join(hex_of(value) for value in row))


path = sys.argv[1]
(read_csv if path.lower().endswith(".csv") else read_workbook)(path)
