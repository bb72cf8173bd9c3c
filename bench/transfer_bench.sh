#!/usr/bin/env bash
# Speed of both transfers on 200,000 rows of 10 mixed columns, beside the
# mdbtools pair (mdb-export piped into psql's \copy) on the same Access table
# and the same server.
#
#   bench/transfer_bench.sh [BUILD_DIR] [ROWS]
#
# Without PGHOST in the environment it runs itself inside a throw-away cluster
# (scripts/pg-cluster.sh). BUILD_DIR defaults to ../build-xfer (quillmere-cli
# is taken from BUILD_DIR/bin).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-$root/../build-xfer}
rows=${2:-200000}

if [[ -z "${PGHOST:-}" ]]; then
    exec "$root/scripts/pg-cluster.sh" -- "$0" "$build" "$rows"
fi

cli=$build/bin/quillmere-cli
[[ -x $cli ]] || { echo "no $cli: build the quillmere-cli target first" >&2; exit 1; }
command -v mdb-export >/dev/null || { echo "mdb-export (mdbtools) is needed for the comparison" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
templates=${QM_FIXTURES:-$root/../shared/fixtures/access}/files/jackcess/templates
install -m 644 "$templates/empty.mdb" "$work/bench.mdb"
install -m 644 "$templates/empty.mdb" "$work/back.mdb"
conninfo="host=$PGHOST port=$PGPORT dbname=$PGDATABASE user=$PGUSER"
export PGOPTIONS="-c search_path=qm_bench"

now() { date +%s.%N; }
rate() { awk -v r="$1" -v s="$2" 'BEGIN { printf "%.0f", r / s }'; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

psql -q -v ON_ERROR_STOP=1 <<SQL
DROP SCHEMA IF EXISTS qm_bench CASCADE;
CREATE SCHEMA qm_bench;
CREATE TABLE qm_bench.seed(id int, name varchar(40), qty smallint, amount numeric(12,2), ratio double precision,
                           made timestamp, flag bool, note varchar(120), score real, big bigint);
INSERT INTO qm_bench.seed
SELECT i, 'name ' || i, (i % 30000)::smallint, (i * 1.25)::numeric(12,2), i / 7.0,
       timestamp '2020-01-01' + i * interval '17 seconds', i % 3 = 0,
       CASE WHEN i % 10 = 0 THEN NULL ELSE 'note of row ' || i || ' with ''quotes'' and a tab' || chr(9) || 'in it' END,
       (i % 1000) / 8.0, i * 1000::bigint
  FROM generate_series(1, $rows) AS i;
SQL

echo "Filling the Access table ($rows rows) ..." >&2
"$cli" send-to-access "$conninfo" "$work/bench.mdb" seed --overwrite 2>"$work/fill.log" || { cat "$work/fill.log" >&2; exit 1; }

# 1. Access to PostgreSQL: quillmere.
t0=$(now)
"$cli" send-to-postgresql "$work/bench.mdb" seed --overwrite --pg "$conninfo" 2>"$work/to_pg.log" || { cat "$work/to_pg.log" >&2; exit 1; }
t1=$(now)
sent=$(psql -Atqc 'SELECT count(*) FROM qm_bench.seed')

# 2. The same table by mdbtools: mdb-export piped into psql's \copy, into a table of the same column types.
psql -q -v ON_ERROR_STOP=1 -c 'CREATE TABLE qm_bench.by_mdbtools (LIKE qm_bench.seed)'
t2=$(now)
mdb-export "$work/bench.mdb" seed | psql -q -v ON_ERROR_STOP=1 -c '\copy qm_bench.by_mdbtools FROM STDIN WITH (FORMAT csv, HEADER true)'
t3=$(now)
peer=$(psql -Atqc 'SELECT count(*) FROM qm_bench.by_mdbtools')

# 3. PostgreSQL to Access: the table just sent, back to a new file.
t4=$(now)
"$cli" send-to-access "$conninfo" "$work/back.mdb" seed --overwrite 2>"$work/to_access.log" || { cat "$work/to_access.log" >&2; exit 1; }
t5=$(now)
back=$("$cli" dump "$work/back.mdb" seed --csv | awk 'END { print NR - 1 }')

to_pg=$(seconds "$t0" "$t1")
pair=$(seconds "$t2" "$t3")
to_access=$(seconds "$t4" "$t5")
printf '%-44s %8s rows %8s s %10s rows/s\n' "Access -> PostgreSQL (quillmere, COPY)" "$sent" "$to_pg" "$(rate "$sent" "$to_pg")"
printf '%-44s %8s rows %8s s %10s rows/s\n' "Access -> PostgreSQL (mdb-export | \\copy)" "$peer" "$pair" "$(rate "$peer" "$pair")"
printf '%-44s %8s rows %8s s %10s rows/s\n' "PostgreSQL -> Access (quillmere, INSERT)" "$back" "$to_access" "$(rate "$back" "$to_access")"
awk -v a="$pair" -v b="$to_pg" 'BEGIN { printf "quillmere is %.2f times as fast as the mdbtools pair (goal: 2)\n", a / b }'
psql -q -c 'DROP SCHEMA qm_bench CASCADE'
