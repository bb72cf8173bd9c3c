#!/bin/sh
# Installs the independent Access readers the writer tests compare against, outside the repository:
#   - mdbtools (mdb-tables, mdb-json, mdb-export): from the system's package manager, not installed here;
#   - the npm package mdb-reader, into $QM_ORACLES_DIR (default: build/oracles, inside the ignored build folder).
# Prints the folder that holds node_modules/mdb-reader on success. Exits 0 without installing when node or
# npm is missing (the tests then skip the mdb-reader comparisons with a message).
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${QM_ORACLES_DIR:-"$here/build/oracles"}
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
    echo "oracles.sh: node/npm not found; mdb-reader comparisons will be skipped" >&2
    exit 0
fi
mkdir -p "$dir" 2>/dev/null || {
    echo "oracles.sh: cannot create $dir; mdb-reader comparisons will be skipped" >&2
    exit 0
}
if [ ! -f "$dir/node_modules/mdb-reader/package.json" ]; then
    (cd "$dir" && npm install --silent --no-audit --no-fund mdb-reader@3 >/dev/null 2>&1) || {
        echo "oracles.sh: npm install mdb-reader failed; mdb-reader comparisons will be skipped" >&2
        exit 0
    }
fi
cp "$here/scripts/mdb_reader_dump.mjs" "$dir/mdb_reader_dump.mjs"
echo "$dir"
