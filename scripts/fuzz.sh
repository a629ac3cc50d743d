#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in their own build directory and runs
# them one after another, SECONDS in all (default 60): half for the model's
# inbound handler (the slowest per input), a quarter each for the Standard
# MIDI File reader and the .syx reader. Exits
# non-zero when a fuzzer finds a crash or a failed check; the input is kept
# under <build>/fuzz-artifacts/.
#
#   bash scripts/fuzz.sh [SECONDS]
#   QUORVANE_FUZZ_BUILD=/path/to/dir bash scripts/fuzz.sh 300
set -euo pipefail
SECONDS_TO_RUN=${1:-60}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${QUORVANE_FUZZ_BUILD:-$ROOT/build-fuzz}
# target:seed folder under fuzz/:share of the time in quarters
TARGETS=(inbound:corpus:2 midifile:corpus-midifile:1 syxfile:corpus-syxfile:1)

cmake -S "$ROOT" -B "$BUILD" -G Ninja \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUORVANE_FUZZ=ON -DQUORVANE_BUILD_UI=OFF -DQUORVANE_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j2 --target fuzz_inbound fuzz_midifile fuzz_syxfile

ARTIFACTS="$BUILD/fuzz-artifacts"
mkdir -p "$ARTIFACTS"
for t in "${TARGETS[@]}"; do
  IFS=: read -r target seeds quarters <<<"$t"
  name=fuzz_$target
  each=$(( SECONDS_TO_RUN * quarters / 4 ))
  [ "$each" -ge 1 ] || each=1
  # New inputs go to the build's corpus; the seeds in the tree are read only.
  corpus="$BUILD/fuzz-corpus/$target"
  mkdir -p "$corpus"
  echo "$name: running for ${each} s"
  # No single allocation may come near 64 MiB: a reader that sized a buffer
  # from a length in the file would be caught here.
  "$BUILD/fuzz/$name" -max_total_time="$each" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=64 \
    -print_final_stats=1 -artifact_prefix="$ARTIFACTS/$name-" "$corpus" "$ROOT/fuzz/$seeds"
done
