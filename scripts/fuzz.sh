#!/usr/bin/env bash
# Builds the libFuzzer target of the inbound handler with clang in its own build
# directory and runs it for N seconds (default 60). Exits non-zero when the
# fuzzer finds a crash or a failed check; the input is kept under
# <build>/fuzz-artifacts/.
#
#   bash scripts/fuzz.sh [SECONDS]
#   QUORVANE_FUZZ_BUILD=/path/to/dir bash scripts/fuzz.sh 300
set -euo pipefail
SECONDS_TO_RUN=${1:-60}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${QUORVANE_FUZZ_BUILD:-$ROOT/build-fuzz}

cmake -S "$ROOT" -B "$BUILD" -G Ninja \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORVANE_FUZZ=ON -DQUORVANE_BUILD_UI=OFF -DQUORVANE_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target fuzz_inbound -j2

# New inputs go to the build's corpus; the seeds in the tree are read only.
CORPUS="$BUILD/fuzz-corpus"
ARTIFACTS="$BUILD/fuzz-artifacts"
mkdir -p "$CORPUS" "$ARTIFACTS"
echo "fuzz_inbound: running for ${SECONDS_TO_RUN} s"
"$BUILD/fuzz/fuzz_inbound" -max_total_time="$SECONDS_TO_RUN" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$ARTIFACTS/" "$CORPUS" "$ROOT/fuzz/corpus"
