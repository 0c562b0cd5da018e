#!/usr/bin/env bash
# Speed and memory of the export, all measured in this one run:
#  - .xlsx of ROWS (100,000) and of 30,000 generated rows of twelve
#    Chinese/ASCII values against openpyxl writing the same workbook (headings
#    in row 1, every cell in the text format "@"), the time including the
#    read-back check; both workbooks must hold the same rows;
#  - CSV of ROWS rows;
#  - 10 keywords of 10,000 rows each merged into one .xlsx table, half of
#    each keyword's members already met under the keyword before;
#  - `qinglan export` of one stored keyword of STORED (1,000,000) rows, to
#    .xlsx and to CSV, once each: rows stream from the store, so the peak
#    memory stays flat however long the table.
# Each line gives the median of the runs, the runs, the peak memory, and the
# goals with a verdict.
#
# Usage: bench/export_bench.sh [ROWS] [RUNS] [OPENPYXL_RUNS] [STORED]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rows=${1:-100000}
runs=${2:-5}
openpyxl_runs=${3:-3}
stored=${4:-1000000}
python=/usr/bin/python3  # the distribution's python, which has openpyxl

"$root/scripts/setup"
# The machine may be shared: two compile jobs at most.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
if ! "$root/scripts/build" "$root/build-bench" -DCMAKE_BUILD_TYPE=Release \
        -DQINGLAN_BUILD_TESTS=OFF >/dev/null 2>&1; then
    # Only the export's bench program is needed here.
    echo "export_bench: the full build failed; building the export bench alone" >&2
    cmake --build "$root/build-bench" --target export_bench >/dev/null
fi

work=$(mktemp -d /tmp/qinglan-export-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
field() { awk -v name="$1" '{for (i = 1; i < NF; i++) if ($i == name) print $(i+1)}'; }
bench=$root/build-bench/bench/export_bench

# measure NAME RUNS COMMAND...: runs COMMAND, which prints export_bench's
# line, RUNS times; sets NAME_median, NAME_all and NAME_peak.
measure() {
    local name=$1 count=$2 line seconds=() peaks=()
    shift 2
    for ((run = 1; run <= count; run++)); do
        line=$("$@")
        seconds+=("$(field seconds <<<"$line")")
        peaks+=("$(field peak_rss_mib <<<"$line")")
    done
    printf -v "${name}_median" '%s' "$(printf '%s\n' "${seconds[@]}" | median)"
    printf -v "${name}_all" '%s' "${seconds[*]}"
    printf -v "${name}_peak" '%s' "$(printf '%s\n' "${peaks[@]}" | sort -n | tail -1)"
}

# The two sides alternate size by size, so a change in the machine's load
# weighs on both alike.
measure ours "$runs" "$bench" "$rows" "$work/qinglan.xlsx"
measure openpyxl "$openpyxl_runs" "$python" "$root/bench/export_rows.py" "$rows" "$work/openpyxl.xlsx"
measure ours30 "$runs" "$bench" 30000 "$work/qinglan30.xlsx"
measure openpyxl30 "$openpyxl_runs" "$python" "$root/bench/export_rows.py" 30000 "$work/openpyxl30.xlsx"
measure csv "$runs" "$bench" "$rows" "$work/qinglan.csv"
measure merged "$runs" "$bench" 10000 "$work/merged.xlsx" 10

# A stored keyword 灯 of STORED rows: the program makes the database, the
# table is filled beside it in one transaction.
qinglan=$root/build-bench/app/qinglan
"$qinglan" tables --data-dir "$work/data" >/dev/null
"$python" - "$work/data/date/lingshishuj.db" "$stored" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.execute('CREATE TABLE "灯" ("编号" TEXT, "地址" TEXT, "公司名称" TEXT, "用户账号" TEXT,'
           ' "电话" TEXT, "传真" TEXT, "称呼" TEXT, "移动电话" TEXT, "职位" TEXT,'
           ' "联系人" TEXT, "邮编" TEXT, "部门" TEXT, "网站" TEXT)')
db.executemany('INSERT INTO "灯" VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)', (
    (str(i + 1), "浙江省杭州市西湖区文三路%d号" % (i % 999), "杭州张伟电子科技有限公司%d" % i,
     "hz%06d" % i, "0571-%08d" % (80000000 + i), "0571-%08d" % (80000001 + i), "先生",
     "13%09d" % i, "经理", "张伟", "310000", "销售部", "http://hz%06d.cn.alibaba.com" % i)
    for i in range(int(sys.argv[2]))))
db.commit()
PY
# stored_export EXTENSION: "SECONDS PEAK_MIB" of one export of 灯.
stored_export() {
    /usr/bin/time -f "%e %M" -o "$work/time" "$qinglan" export --data-dir "$work/data" 灯 \
        "$work/stored.$1" >/dev/null
    awk '{printf "%.3f %.1f\n", $1, $2 / 1024}' "$work/time"
}
read -r stored_xlsx_seconds stored_xlsx_peak < <(stored_export xlsx)
read -r stored_csv_seconds stored_csv_peak < <(stored_export csv)

# The same rows in both: the first thousand and the row count, read back.
"$python" - "$work/qinglan.xlsx" "$work/openpyxl.xlsx" "$rows" <<'PY'
import sys
import openpyxl
ours, theirs, rows = sys.argv[1], sys.argv[2], int(sys.argv[3])
def head(path, count):
    sheet = openpyxl.load_workbook(path, read_only=True).worksheets[0]
    return [[c.value for c in row] for row in sheet.iter_rows(max_row=count)]
def cell_formats(path, count):
    sheet = openpyxl.load_workbook(path, read_only=True).worksheets[0]
    return {c.number_format for row in sheet.iter_rows(max_row=count) for c in row}
if head(ours, 1001) != head(theirs, 1001):
    sys.exit("export_bench: the two workbooks differ in their first rows")
if cell_formats(ours, 1001) != {"@"} or cell_formats(theirs, 1001) != {"@"}:
    sys.exit("export_bench: a cell is not in the text format")
dimension = openpyxl.load_workbook(ours, read_only=True).worksheets[0].calculate_dimension()
if dimension != "A1:L%d" % (rows + 1):
    sys.exit("export_bench: our workbook spans %s" % dimension)
PY
# The merged table: 10 keywords of 10,000 rows overlapping by half leave
# 55,000 accounts, and the CSV holds the rows of the workbook.
"$python" - "$work/merged.xlsx" "$work/qinglan.csv" "$rows" <<'PY'
import csv, sys
import openpyxl
merged, csv_path, rows = sys.argv[1], sys.argv[2], int(sys.argv[3])
sheet = openpyxl.load_workbook(merged, read_only=True).worksheets[0]
if sheet.calculate_dimension() != "A1:M55001":
    sys.exit("export_bench: the merged workbook spans %s" % sheet.calculate_dimension())
with open(csv_path, newline="", encoding="utf-8-sig") as f:
    count = sum(1 for _ in csv.reader(f))
if count != rows + 1:
    sys.exit("export_bench: the CSV holds %d lines" % count)
PY

ratio=$(python3 -c "print('%.1f' % ($openpyxl_median / $ours_median))")
ratio30=$(python3 -c "print('%.1f' % ($openpyxl30_median / $ours30_median))")
verdict() { python3 -c "import sys; print('met' if $1 else 'NOT met')"; }
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg); runs: $runs (qinglan), $openpyxl_runs (openpyxl)"
echo "xlsx $rows rows:   median $(printf '%.3f' "$ours_median") s, peak ${ours_peak} MiB  (runs: $ours_all)  goal under 1.5 s: $(verdict "$ours_median < 1.5")"
echo "openpyxl $rows:    median $(printf '%.3f' "$openpyxl_median") s, peak ${openpyxl_peak} MiB  (runs: $openpyxl_all)"
echo "ratio at $rows:     $ratio  goal at least 10: $(verdict "$ratio >= 10")"
echo "xlsx 30000 rows:    median $(printf '%.3f' "$ours30_median") s, peak ${ours30_peak} MiB  (runs: $ours30_all)"
echo "openpyxl 30000:     median $(printf '%.3f' "$openpyxl30_median") s, peak ${openpyxl30_peak} MiB  (runs: $openpyxl30_all)"
echo "ratio at 30000:     $ratio30  goal at least 10: $(verdict "$ratio30 >= 10")"
echo "csv $rows rows:    median $(printf '%.3f' "$csv_median") s, peak ${csv_peak} MiB  (runs: $csv_all)  goal under 0.3 s: $(verdict "$csv_median < 0.3")"
echo "stored $stored xlsx: $stored_xlsx_seconds s, peak $stored_xlsx_peak MiB  goal under 64 MiB: $(verdict "$stored_xlsx_peak < 64")"
echo "stored $stored csv:  $stored_csv_seconds s, peak $stored_csv_peak MiB  goal under 64 MiB: $(verdict "$stored_csv_peak < 64")"
echo "merged 10 x 10000: median $(printf '%.3f' "$merged_median") s, peak ${merged_peak} MiB  (runs: $merged_all)  goals under 2 s: $(verdict "$merged_median < 2") under 100 MiB: $(verdict "$merged_peak < 100")"
