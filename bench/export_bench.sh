#!/usr/bin/env bash
# Speed and memory of the .xlsx export against openpyxl writing the same
# workbook: 100,000 generated rows of twelve Chinese/ASCII values, headings
# in row 1, every cell in the text format "@". Each side runs several times
# in this same run; the script prints the medians, the peak memory of each
# and the ratio, and checks that both workbooks hold the same rows.
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

ours=() ours_rss=() openpyxl=() openpyxl_rss=()
for ((run = 1; run <= runs; run++)); do
    line=$("$root/build-bench/bench/export_bench" "$rows" "$work/qinglan.xlsx")
    ours+=("$(field seconds <<<"$line")")
    ours_rss+=("$(field peak_rss_mib <<<"$line")")
done
for ((run = 1; run <= openpyxl_runs; run++)); do
    line=$("$python" "$root/bench/export_rows.py" "$rows" "$work/openpyxl.xlsx")
    openpyxl+=("$(field seconds <<<"$line")")
    openpyxl_rss+=("$(field peak_rss_mib <<<"$line")")
done

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

ours_median=$(printf '%s\n' "${ours[@]}" | median)
openpyxl_median=$(printf '%s\n' "${openpyxl[@]}" | median)
ours_peak=$(printf '%s\n' "${ours_rss[@]}" | sort -n | tail -1)
openpyxl_peak=$(printf '%s\n' "${openpyxl_rss[@]}" | sort -n | tail -1)
echo "rows: $rows x 12 columns; runs: $runs (qinglan), $openpyxl_runs (openpyxl)"
echo "qinglan export:  median $(printf '%.3f' "$ours_median") s, peak memory ${ours_peak} MiB  (runs: ${ours[*]})"
echo "openpyxl:        median $(printf '%.3f' "$openpyxl_median") s, peak memory ${openpyxl_peak} MiB  (runs: ${openpyxl[*]})"
echo "workbook sizes:  qinglan $(stat -c %s "$work/qinglan.xlsx") bytes, openpyxl $(stat -c %s "$work/openpyxl.xlsx") bytes"
echo "ratio openpyxl / qinglan: $(python3 -c "print('%.1f' % ($openpyxl_median / $ours_median))")"
python3 - "$ours_median" "$ours_peak" "$openpyxl_median" <<'PY'
import sys
seconds, peak, theirs = map(float, sys.argv[1:4])
goals = [("under 2 s", seconds < 2.0), ("under 100 MiB", peak < 100.0),
         ("at least 10x openpyxl", theirs / seconds >= 10.0)]
print("goals: " + ", ".join("%s %s" % (name, "met" if met else "NOT met") for name, met in goals))
PY
