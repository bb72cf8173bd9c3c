#!/usr/bin/env bash
# Starts a throw-away PostgreSQL cluster, runs a command against it, and
# removes the cluster again, whatever the command did.
#
#   scripts/pg-cluster.sh -- ctest --test-dir build --output-on-failure
#   scripts/pg-cluster.sh            # an interactive shell with the cluster up
#
# The cluster listens on a free port of 127.0.0.1 only, with password
# (scram-sha-256) authentication over TCP. The command sees:
#   PGHOST PGPORT PGUSER PGPASSWORD PGDATABASE     (for psql and libpq defaults)
#   QM_PG_HOST QM_PG_PORT QM_PG_USER QM_PG_PASSWORD QM_PG_DATABASE
#                                                  (what the tests read)
#   QM_PG_SOCKET_DIR                               (the cluster's Unix socket folder)
# The user qm_user/qm_pass owns the database quillmere_test and may create
# roles and databases (tests make roles with awkward passwords).
#
# PostgreSQL refuses to run as root: started by root, the server runs as the
# unprivileged system user quillmere-test (created when missing; "nobody" if
# that cannot be done). Started by anyone else, it runs as that user.
#
# Exit status: the command's.
set -euo pipefail

usage() {
    echo "usage: $0 [-- command [args...]]" >&2
    exit 2
}

command_args=()
while [[ $# -gt 0 ]]; do
    case "$1" in
    --)
        shift
        command_args=("$@")
        break
        ;;
    -h | --help) usage ;;
    *) usage ;;
    esac
done

# --- PostgreSQL's programs: the newest installed server, else whatever PATH has.
find_bindir() {
    local dir
    for dir in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
        if [[ -x "$dir/initdb" && -x "$dir/pg_ctl" && -x "$dir/postgres" ]]; then
            echo "$dir"
            return
        fi
    done
    if command -v pg_config >/dev/null && [[ -x "$(pg_config --bindir)/initdb" ]]; then
        pg_config --bindir
        return
    fi
    if command -v initdb >/dev/null; then
        dirname "$(command -v initdb)"
        return
    fi
    echo "pg-cluster: no PostgreSQL server found (install the Debian package 'postgresql')" >&2
    exit 1
}
BINDIR=$(find_bindir)

# --- Who runs the server.
RUN_AS=""
if [[ $(id -u) -eq 0 ]]; then
    RUN_AS=quillmere-test
    if ! id "$RUN_AS" >/dev/null 2>&1; then
        useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$RUN_AS" \
            >/dev/null 2>&1 || RUN_AS=nobody
    fi
fi

as_server_user() {
    if [[ -n "$RUN_AS" ]]; then
        # runuser keeps root's environment out of the server's way (HOME, PG*).
        runuser -u "$RUN_AS" -- env -i PATH="$BINDIR:/usr/bin:/bin" LANG=C.UTF-8 "$@"
    else
        env -u PGHOST -u PGPORT -u PGUSER -u PGPASSWORD -u PGDATABASE PATH="$BINDIR:$PATH" "$@"
    fi
}

# --- Folder and clean-up.
# The server's user must reach the folder: under root, /tmp rather than a
# TMPDIR that may sit inside a private home.
if [[ -n "$RUN_AS" ]]; then tmp_parent=/tmp; else tmp_parent=${TMPDIR:-/tmp}; fi
BASE=$(mktemp -d "$tmp_parent/quillmere-pg.XXXXXX")
chmod 0755 "$BASE"
DATA="$BASE/data"
SOCKDIR="$BASE/socket"
LOG="$BASE/server.log"
mkdir -p "$SOCKDIR"
if [[ -n "$RUN_AS" ]]; then chown "$RUN_AS" "$BASE" "$SOCKDIR"; fi

STARTED=0
cleanup() {
    local status=$?
    if [[ $STARTED -eq 1 ]]; then
        # The data is thrown away: no shutdown checkpoint needed.
        as_server_user "$BINDIR/pg_ctl" -D "$DATA" -m immediate -w -t 30 stop >/dev/null 2>&1 || true
    fi
    rm -rf "$BASE"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# --- initdb: trust on the private socket, passwords over TCP.
SUPERUSER=qm_admin
as_server_user "$BINDIR/initdb" -D "$DATA" -U "$SUPERUSER" -E UTF8 --locale=C.UTF-8 \
    --auth-local=trust --auth-host=scram-sha-256 >"$BASE/initdb.log" 2>&1 || {
    cat "$BASE/initdb.log" >&2
    echo "pg-cluster: initdb failed" >&2
    exit 1
}

# --- A free loopback port: bash's /dev/tcp finds ports nobody listens on;
# should another program take it first, the start fails and we try again.
port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

PORT=""
for attempt in 1 2 3 4 5 6 7 8; do
    candidate=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
    port_in_use "$candidate" && continue
    if as_server_user "$BINDIR/pg_ctl" -D "$DATA" -l "$LOG" -w -t 60 start \
        -o "-p $candidate -k $SOCKDIR -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off -c full_page_writes=off" \
        >/dev/null 2>&1; then
        PORT=$candidate
        STARTED=1
        break
    fi
    echo "pg-cluster: start on port $candidate failed (attempt $attempt)" >&2
done
if [[ -z "$PORT" ]]; then
    cat "$LOG" >&2 2>/dev/null || true
    echo "pg-cluster: the server did not start" >&2
    exit 1
fi

# --- Database and password user.
PGUSER_NAME=qm_user
PGPASSWORD_VALUE=qm_pass
PGDATABASE_NAME=quillmere_test
as_server_user "$BINDIR/psql" -X -q -v ON_ERROR_STOP=1 -h "$SOCKDIR" -p "$PORT" -U "$SUPERUSER" -d postgres <<SQL
SET password_encryption = 'scram-sha-256';
CREATE ROLE $PGUSER_NAME LOGIN CREATEROLE CREATEDB PASSWORD '$PGPASSWORD_VALUE';
CREATE DATABASE $PGDATABASE_NAME OWNER $PGUSER_NAME;
SQL

export PGHOST=127.0.0.1 PGPORT=$PORT PGUSER=$PGUSER_NAME PGPASSWORD=$PGPASSWORD_VALUE PGDATABASE=$PGDATABASE_NAME
export QM_PG_HOST=$PGHOST QM_PG_PORT=$PGPORT QM_PG_USER=$PGUSER QM_PG_PASSWORD=$PGPASSWORD QM_PG_DATABASE=$PGDATABASE
export QM_PG_SOCKET_DIR=$SOCKDIR

echo "pg-cluster: PostgreSQL $("$BINDIR/postgres" --version | awk '{print $3}') on 127.0.0.1:$PORT," \
    "user $PGUSER, database $PGDATABASE" >&2

set +e
if [[ ${#command_args[@]} -eq 0 ]]; then
    "${SHELL:-/bin/bash}"
    status=$?
else
    # In the background, so that a signal to this script stops the command
    # and the cluster at once instead of after the command ends.
    "${command_args[@]}" <&0 &
    child=$!
    trap 'kill -TERM "$child" 2>/dev/null; wait "$child"; exit 143' TERM
    trap 'kill -INT "$child" 2>/dev/null; wait "$child"; exit 130' INT
    wait "$child"
    status=$?
fi
set -e
exit "$status"
