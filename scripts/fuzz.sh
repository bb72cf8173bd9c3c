#!/bin/sh
# Builds the reading engine's libFuzzer targets with clang and runs them.
#
#   scripts/fuzz.sh [SECONDS]        (default 60; split between the two targets)
#
# Environment: FUZZ_BUILD_DIR (default build/fuzz, inside the ignored build folder),
# QUILLMERE_SHARED_DIR (fixtures; default ../shared). A crash leaves its input in the
# build folder (crash-*) and the script exits non-zero.
set -eu
SECS=${1:-60}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SHARED=${QUILLMERE_SHARED_DIR:-$ROOT/../shared}
BUILD=${FUZZ_BUILD_DIR:-$ROOT/build/fuzz}
CXX_COMPILER=${CXX_FUZZ:-clang++}

cmake -S "$ROOT" -B "$BUILD" -DQUILLMERE_GUI=OFF -DQUILLMERE_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER="$CXX_COMPILER" -DQUILLMERE_SHARED_DIR="$SHARED" >/dev/null
cmake --build "$BUILD" --target jet_fuzz_decoders jet_fuzz_file -j"$(nproc 2>/dev/null || echo 2)"

FUZZ_DIR="$BUILD/tests/jet"
SEEDS="$BUILD/fuzz-seeds"
mkdir -p "$SEEDS/decoders" "$SEEDS/file"

# Seeds for the decoder target: the first pages of some fixtures behind each selector byte.
FIX="$SHARED/fixtures/access/files"
n=0
for f in mdb-reader/V1997/test.mdb mdb-reader/V2003/numeric.mdb jackcess/V2010/calcFieldTestV2010.accdb \
         mdb-reader/V2016/attachments.accdb; do
  [ -f "$FIX/$f" ] || continue
  for sel in 0 1 2 3 4 5; do
    { printf "\\$(printf '%03o' "$sel")"; head -c 12288 "$FIX/$f"; } > "$SEEDS/decoders/seed_${n}_$sel"
  done
  n=$((n + 1))
done

HALF=$((SECS / 2))
[ "$HALF" -lt 1 ] && HALF=1
cd "$BUILD"
"$FUZZ_DIR/jet_fuzz_decoders" -max_total_time="$HALF" -max_len=16384 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 "$SEEDS/decoders"
"$FUZZ_DIR/jet_fuzz_file" -max_total_time="$HALF" -max_len=4096 -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 "$SEEDS/file"
