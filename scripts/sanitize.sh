#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in its
# own directory (default ./build-asan) and runs the whole test suite there: the
# GoogleTest suites, the window tests offscreen and the end-to-end tests on
# JACK. Any report fails the run: undefined behaviour stops the program at once
# (built without recovery), a memory error or a leak ends it with an error.
# The only leak suppressed is the one inside the installed RtMidi's JACK output
# (tests/sanitizers/lsan.supp).
#
#   bash scripts/sanitize.sh            (after scripts/install-deps.sh)
#   SANITIZE_BUILD_DIR=/tmp/asan bash scripts/sanitize.sh
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD_DIR="${SANITIZE_BUILD_DIR:-build-asan}"

export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$ROOT/tests/sanitizers/lsan.supp:print_suppressions=0"
export QT_QPA_PLATFORM=offscreen

GEN=()
command -v ninja >/dev/null && GEN=(-G Ninja)
start=$SECONDS
cmake -S . -B "$BUILD_DIR" "${GEN[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVANE_SANITIZE=ON >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
built=$SECONDS
# The end-to-end scripts that spend minutes waiting at a real module's pace on
# JACK (back-up, journal, audition) run in the first stage only: what they
# drive is the same library code the unit tests run here under the sanitizers.
# The journal's lossy-wire test expects a request to follow a data set within
# 100 ms, so that the lost one widens the gap: the instrumented build is too slow
# for that, and the test runs in the first stage and under wine instead.
ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$(nproc)" --timeout 900 \
  -E '^(e2e_(journal|backup|audition)_jack|JournalTest\.CopyAndSwapOnALossyWire.*)$'
echo "sanitizer run: build $((built - start)) s, tests $((SECONDS - built)) s"
