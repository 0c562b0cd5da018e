#!/usr/bin/env bash
# Speed and memory of the export, all measured in this one run:
#  - .xlsx of ROWS (100,000) and of 30,000 generated rows of twelve
#    Chinese/ASCII values against openpyxl writing the same workbook (headings
#    in row 1, every cell in the text format "@"), the time including the
#    read-back check; both workbooks must hold the same rows;
#  - CSV of ROWS rows;
#  - 10 keywords of 10,000 rows each merged into one .xlsx table, half of
#    each keyword's members already met under the keyword before.
# Each line gives the median of the runs, the runs, the peak memory, and the
# goals with a verdict.
#
# Usage: bench/export_bench.sh [ROWS] [RUNS] [OPENPYXL_RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rows=${1:-100000}
runs=${2:-5}
openpyxl_runs=${3:-3}
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
echo "merged 10 x 10000: median $(printf '%.3f' "$merged_median") s, peak ${merged_peak} MiB  (runs: $merged_all)  goals under 2 s: $(verdict "$merged_median < 2") under 100 MiB: $(verdict "$merged_peak < 100")"
