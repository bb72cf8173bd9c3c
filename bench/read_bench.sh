#!/bin/bash
# Reading speed of the jet engine against mdbtools' mdb-export, CSV of one table.
#
#   bench/read_bench.sh [ROWS]          (default 200000)
#
# 1. Builds jet-dump and jet-make-bench (in $BUILD, default ../build-jet).
# 2. Writes a table `Bench` of ROWS rows and 10 mixed columns (Long, Text, Integer,
#    Currency, Double, Date/Time, Boolean, Byte, Decimal, Memo) into a copy of an empty
#    Jet 4 template with the jet writer (cached in $BENCH_DIR by row count).
# 3. Times `jet-dump --format csv --table Bench` and `mdb-export FILE Bench`, and the
#    same for the largest fixture table (100 runs in a row, it is small), each best
#    of $REPEAT measurements; prints wall and CPU
#    seconds, the ratio and the peak memory (max RSS; the file is memory-mapped, so the
#    mapped pages that were touched count in it).
# 4. Runs jet-dump over 5 x ROWS rows too, to show that memory does not grow with rows.
set -euo pipefail
ROWS=${1:-200000}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SHARED=${QUILLMERE_SHARED_DIR:-$ROOT/../shared}
BUILD=${BUILD:-$ROOT/../build-jet}
BENCH_DIR=${BENCH_DIR:-${TMPDIR:-/tmp}/quillmere-bench}
REPEAT=${REPEAT:-3}
TEMPLATE="$SHARED/fixtures/access/files/jackcess/templates/empty2003.mdb"
LARGEST_FILE="$SHARED/fixtures/access/files/jackcess/V2000/compIndexTestV2000.mdb"
LARGEST_TABLE="Table1"

command -v mdb-export >/dev/null || { echo "mdb-export (mdbtools) is not installed" >&2; exit 1; }
if [ ! -x "$BUILD/jet/jet-dump" ] || [ ! -x "$BUILD/jet/jet-make-bench" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DQUILLMERE_GUI=OFF >/dev/null
fi
cmake --build "$BUILD" --target jet-dump jet-make-bench -j"$(nproc 2>/dev/null || echo 2)" >/dev/null
JET="$BUILD/jet/jet-dump"
mkdir -p "$BENCH_DIR"

make_db() { # rows -> path
  local f="$BENCH_DIR/bench_$1.mdb"
  if [ ! -f "$f" ]; then
    echo "writing $1 rows into $f ..." >&2
    "$BUILD/jet/jet-make-bench" "$TEMPLATE" "$f.tmp" "$1" 2>/dev/null
    mv "$f.tmp" "$f"
  fi
  echo "$f"
}

# best of REPEAT: prints "wall user sys maxrss_kb"
measure() {
  local best=""
  for _ in $(seq "$REPEAT"); do
    local out tf
    tf=$(mktemp)
    /usr/bin/time -o "$tf" -f "%e %U %S %M" "$@" > /dev/null 2>/dev/null
    out=$(tail -1 "$tf")
    rm -f "$tf"
    if [ -z "$best" ] || awk -v a="$out" -v b="$best" 'BEGIN{split(a,x," ");split(b,y," ");exit !((x[2]+x[3])<(y[2]+y[3]))}'; then
      best="$out"
    fi
  done
  echo "$best"
}

report() { # label jet-measure mdb-measure rows
  local label=$1 j=$2 m=$3 rows=$4
  read -r jw ju js jm <<<"$j"
  read -r mw mu ms mm <<<"$m"
  awk -v l="$label" -v r="$rows" -v jw="$jw" -v ju="$ju" -v js="$js" -v jm="$jm" \
      -v mw="$mw" -v mu="$mu" -v ms="$ms" -v mm="$mm" 'BEGIN{
    jc=ju+js; mc=mu+ms; if (jc<0.005) jc=0.005; if (jw<0.005) jw=0.005;
    printf "%s (%d rows)\n", l, r;
    printf "  jet-dump --format csv : %6.2f s wall  %6.2f s cpu  %7.1f MiB max RSS\n", jw, ju+js, jm/1024;
    printf "  mdb-export            : %6.2f s wall  %6.2f s cpu  %7.1f MiB max RSS\n", mw, mu+ms, mm/1024;
    printf "  ratio (mdb-export / jet): %.1fx cpu, %.1fx wall\n", mc/jc, mw/jw }'
}

DB=$(make_db "$ROWS")
check=$("$JET" --count "$DB" --table Bench | cut -f2)
[ "$check" = "$ROWS" ] || { echo "row count $check, expected $ROWS" >&2; exit 1; }

J=$(measure "$JET" "$DB" --table Bench --format csv)
M=$(measure mdb-export "$DB" Bench)
report "generated table Bench, 10 mixed columns" "$J" "$M" "$ROWS"

# The largest fixture table is small: each measurement runs the export 100 times.
LOOPS=100
LROWS=$("$JET" --count "$LARGEST_FILE" --table "$LARGEST_TABLE" | cut -f2)
J=$(measure sh -c 'i=0; while [ $i -lt '$LOOPS' ]; do "$0" "$1" --table "$2" --format csv; i=$((i+1)); done' \
      "$JET" "$LARGEST_FILE" "$LARGEST_TABLE")
M=$(measure sh -c 'i=0; while [ $i -lt '$LOOPS' ]; do mdb-export "$0" "$1"; i=$((i+1)); done' \
      "$LARGEST_FILE" "$LARGEST_TABLE")
report "largest fixture table ($(basename "$LARGEST_FILE") $LARGEST_TABLE), $LOOPS runs" "$J" "$M" "$LROWS"

BIG=$((ROWS * 5))
DB5=$(make_db "$BIG")
J5=$(measure "$JET" "$DB5" --table Bench --format csv)
read -r _ _ _ m1 <<<"$(measure "$JET" "$DB" --table Bench --format csv)"
read -r w5 u5 s5 m5 <<<"$J5"
echo "memory: jet-dump max RSS $((m1 / 1024)) MiB at $ROWS rows, $((m5 / 1024)) MiB at $BIG rows" \
     "(file sizes $(( $(stat -c %s "$DB") / 1048576 )) and $(( $(stat -c %s "$DB5") / 1048576 )) MiB, mapped);" \
     "$BIG rows in ${w5} s wall"
