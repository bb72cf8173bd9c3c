#!/usr/bin/env bash
# Every speed figure on a table shaped like a real one (bench/shape_rows.cpp: long and short text, Unicode,
# quotes, line breaks, Nulls, dates with times), measured in one run against one server:
#
#   1. quillmere-cli exec FILE --script of ROWS INSERTs                        goal >= 200,000 rows/s
#   2. quillmere-cli dump --format csv against mdb-export, same file            goal >= 5x
#   3. Access -> PostgreSQL against psql's \copy of a CSV of the same rows      goal <= 1.3x
#   4. PostgreSQL -> Access, typed columns                                       goal >= 200,000 rows/s
#   5. PostgreSQL -> Access, the text columns step 3 left (Memo on the way)      goal >= 150,000 rows/s
#   6. PostgreSQL -> Access, BIG typed rows: time and peak memory                goal <= 10.5x step 4, memory flat
#
#   bench/shape_bench.sh [BUILD_DIR] [ROWS] [BIG]      defaults: ../build 200000 2000000 (BIG 0: skip step 6)
#
# Each figure is the best of $REPEAT runs (default 3); wall and CPU seconds are printed, since the machine may be
# shared. Without PGHOST in the environment it runs itself inside a throw-away cluster (scripts/pg-cluster.sh).
# Needs the quillmere-cli and shape_rows targets built in BUILD_DIR, mdbtools and psql.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
rows=${2:-200000}
big=${3:-2000000}
repeat=${REPEAT:-3}

if [[ -z "${PGHOST:-}" ]]; then
    exec "$root/scripts/pg-cluster.sh" -- "$0" "$build" "$rows" "$big"
fi

cli=$build/bin/quillmere-cli
gen=$build/bench/shape_rows
for tool in "$cli" "$gen"; do
    [[ -x $tool ]] || { echo "no $tool: build the quillmere-cli and shape_rows targets first" >&2; exit 1; }
done
command -v mdb-export >/dev/null || { echo "mdb-export (mdbtools) is needed for the comparison" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
empty=${QM_FIXTURES:-$root/../shared/fixtures/access}/files/jackcess/templates/empty2003.mdb
conninfo="host=$PGHOST port=$PGPORT dbname=$PGDATABASE user=$PGUSER"
export PGOPTIONS="-c search_path=qm_bench"

fresh() { install -m 644 "$empty" "$1"; }
count_access() { "$cli" dump "$1" "$2" --format csv | python3 -c 'import csv,sys; print(sum(1 for _ in csv.reader(sys.stdin)) - 1)'; }
count_pg() { psql -Atqc "SELECT count(*) FROM qm_bench.$1"; }

# best PREPARE -- COMMAND...: runs PREPARE (untimed) then COMMAND, $repeat times; prints the run with the least
# wall time as "wall user sys maxrss_kb". COMMAND's stdout goes to /dev/null.
best() {
    local prepare=$1 bestline="" line tf
    shift 2
    for _ in $(seq "$repeat"); do
        eval "$prepare"
        tf=$(mktemp)
        /usr/bin/time -o "$tf" -f "%e %U %S %M" "$@" >/dev/null 2>"$work/last.err" ||
            { cat "$work/last.err" "$tf" >&2; exit 1; }
        line=$(tail -1 "$tf")
        rm -f "$tf"
        if [[ -z $bestline ]] || awk -v a="$line" -v b="$bestline" 'BEGIN{split(a,x," ");split(b,y," ");exit !(x[1]<y[1])}'; then
            bestline=$line
        fi
    done
    echo "$bestline"
}
field() { echo "$1" | cut -d' ' -f"$2"; }
cpu() { awk -v u="$(field "$1" 2)" -v s="$(field "$1" 3)" 'BEGIN{printf "%.2f", u + s}'; }
line() { # label measurement rows
    awk -v l="$1" -v w="$(field "$2" 1)" -v c="$(cpu "$2")" -v m="$(field "$2" 4)" -v r="$3" \
        'BEGIN{printf "%-50s %7.2f s wall %7.2f s cpu %7.0f MiB  %9.0f rows/s\n", l, w, c, m / 1024, r / (w < 0.01 ? 0.01 : w)}'
}
ratio() { awk -v a="$(field "$1" 1)" -v b="$(field "$2" 1)" 'BEGIN{printf "%.2f", a / b}'; }

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg); best of $repeat; $rows rows" >&2
"$gen" sql "$rows" shape >"$work/shape.sql"
"$gen" csv "$rows" >"$work/shape.csv"
psql -q -v ON_ERROR_STOP=1 <<SQL
DROP SCHEMA IF EXISTS qm_bench CASCADE;
CREATE SCHEMA qm_bench;
$("$gen" pg-create qm_bench.typed)
\copy qm_bench.typed FROM '$work/shape.csv' WITH (FORMAT csv, HEADER true)
SQL

# 1. The script of INSERTs into a new file.
exec_m=$(best 'fresh "$work/shape.mdb"' -- "$cli" exec "$work/shape.mdb" --script "$work/shape.sql")
[[ $(count_access "$work/shape.mdb" shape) == "$rows" ]] || { echo "exec --script: wrong row count" >&2; exit 1; }

# 2. CSV of the table by both readers.
dump_m=$(best : -- "$cli" dump "$work/shape.mdb" shape --format csv)
mdbx_m=$(best : -- mdb-export "$work/shape.mdb" shape)

# 3. Access -> PostgreSQL, and psql's \copy of the rows it left, written to a CSV file, into a table of the same
#    columns on the same server.
to_pg_m=$(best : -- "$cli" send-to-postgresql "$work/shape.mdb" shape --overwrite --pg "$conninfo")
[[ $(count_pg shape) == "$rows" ]] || { echo "send-to-postgresql: wrong row count" >&2; exit 1; }
psql -q -v ON_ERROR_STOP=1 -c "\\copy qm_bench.shape TO '$work/sent.csv' WITH (FORMAT csv)"
copy_m=$(best 'psql -q -c "DROP TABLE IF EXISTS qm_bench.by_copy; CREATE TABLE qm_bench.by_copy (LIKE qm_bench.shape)"' \
    -- psql -q -v ON_ERROR_STOP=1 -c "\\copy qm_bench.by_copy FROM '$work/sent.csv' WITH (FORMAT csv)")

# 4. and 5. PostgreSQL -> Access into a new file each run.
typed_m=$(best 'fresh "$work/typed.mdb"' -- "$cli" send-to-access "$conninfo" "$work/typed.mdb" typed)
[[ $(count_access "$work/typed.mdb" typed) == "$rows" ]] || { echo "send-to-access typed: wrong row count" >&2; exit 1; }
text_m=$(best 'fresh "$work/text.mdb"' -- "$cli" send-to-access "$conninfo" "$work/text.mdb" shape)
[[ $(count_access "$work/text.mdb" shape) == "$rows" ]] || { echo "send-to-access text: wrong row count" >&2; exit 1; }

echo
line "exec --script ($rows INSERTs)" "$exec_m" "$rows"
line "dump --format csv" "$dump_m" "$rows"
line "mdb-export" "$mdbx_m" "$rows"
line "Access -> PostgreSQL (send-to-postgresql)" "$to_pg_m" "$rows"
line "psql \\copy of the same rows from a CSV file" "$copy_m" "$rows"
line "PostgreSQL -> Access, typed columns" "$typed_m" "$rows"
line "PostgreSQL -> Access, text columns (Memo)" "$text_m" "$rows"
echo "dump is $(ratio "$mdbx_m" "$dump_m")x as fast as mdb-export (goal >= 5)"
echo "Access -> PostgreSQL takes $(ratio "$to_pg_m" "$copy_m")x the time of \\copy (goal <= 1.3)"

if [[ $big -gt 0 ]]; then
    "$gen" csv "$big" >"$work/big.csv"
    psql -q -v ON_ERROR_STOP=1 <<SQL
$("$gen" pg-create qm_bench.big)
\copy qm_bench.big FROM '$work/big.csv' WITH (FORMAT csv, HEADER true)
SQL
    rm -f "$work/big.csv"
    big_m=$(best 'fresh "$work/big.mdb"' -- "$cli" send-to-access "$conninfo" "$work/big.mdb" big)
    [[ $(count_access "$work/big.mdb" big) == "$big" ]] ||
        { echo "send-to-access big: wrong row count" >&2; exit 1; }
    line "PostgreSQL -> Access, typed columns, $big rows" "$big_m" "$big"
    echo "$big rows take $(ratio "$big_m" "$typed_m")x the time of $rows (goal <= $(awk -v a="$big" -v b="$rows" 'BEGIN{printf "%.1f", 1.05 * a / b}')); peak memory $(( $(field "$typed_m" 4) / 1024 )) MiB -> $(( $(field "$big_m" 4) / 1024 )) MiB"
fi
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
psql -q -c 'DROP SCHEMA qm_bench CASCADE'
