#!/usr/bin/env bash
# The editor's windows end to end on a real MIDI system: a private JACK server
# (dummy driver), quorvane-u220sim on it at a real module's pace (--wire, 20 ms
# least gap, answers after 5 ms), and the window test program driving the real
# main window and patch editor on RtMidi ports to it. Afterwards the simulator's
# memory, read with quorvane-cli, must equal what the windows showed, and the
# simulator must report that it lost no message. QUORVANE_E2E_ANSWER_DELAY_MS
# sets another answer delay (400 is a slow real module).
set -u
WIN=${1:?usage: jack_window_e2e.sh path/to/tst_jack_window path/to/quorvane-cli path/to/quorvane-u220sim}
CLI=${2:?usage: jack_window_e2e.sh path/to/tst_jack_window path/to/quorvane-cli path/to/quorvane-u220sim}
SIM=${3:?usage: jack_window_e2e.sh path/to/tst_jack_window path/to/quorvane-cli path/to/quorvane-u220sim}
. "$(dirname "$0")/lib.sh"

WORK=$(mktemp -d)
NAME="winsim$$"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
JACKD_PID=""
SIM_PID=""

cleanup() {
  [ -n "$SIM_PID" ] && { kill -TERM "$SIM_PID" 2>/dev/null; wait "$SIM_PID" 2>/dev/null; }
  [ -n "$JACKD_PID" ] && { kill -TERM "$JACKD_PID" 2>/dev/null; wait "$JACKD_PID" 2>/dev/null; }
  rm -rf "$WORK"
}
trap cleanup EXIT

die() {
  echo "FATAL: $*" >&2
  local f
  for f in "$WORK"/*.log; do [ -s "$f" ] && { echo "--- $f" >&2; tail -30 "$f" >&2; }; done
  echo "$PASSED passed, $((FAILED + 1)) failed"
  exit 1
}

command -v jackd >/dev/null || die "jackd is not installed (scripts/install-deps.sh installs jackd2)"

# 512 frames at 48 kHz: JACK hands messages over once a period (10.7 ms), which
# the editor's 20 ms pacing has to allow for.
start_jackd "$WORK/jackd.log" || die "no JACK server came up"

"$SIM" --api jack --name "$NAME" --wire --min-gap-ms 20 --answer-delay-ms "${QUORVANE_E2E_ANSWER_DELAY_MS:-5}" >"$WORK/sim.out" 2>"$WORK/sim.log" &
SIM_PID=$!
ready=0
for _ in $(seq 1 100); do
  grep -q '^ready$' "$WORK/sim.out" 2>/dev/null && { ready=1; break; }
  kill -0 "$SIM_PID" 2>/dev/null || die "the simulator exited before it was ready"
  sleep 0.1
done
[ "$ready" -eq 1 ] || die "the simulator was not ready within 10 s"
pass "JACK server and simulator are up"

# --- the windows ------------------------------------------------------------------
QUORVANE_E2E_PORT="$NAME" QUORVANE_E2E_SHOWN="$WORK/shown.txt" timeout 540 "$WIN" >"$WORK/windows.log" 2>&1
rc=$?
cat "$WORK/windows.log"
expect_eq "the window test program passes" 0 "$rc"

if [ ! -s "$WORK/shown.txt" ]; then
  fail "the windows showed no values to compare"
else
  # --- the module's memory against the windows --------------------------------------
  dump=$(timeout 120 "$CLI" --in "$NAME" --out "$NAME" --timeout-ms 2000 --retries 3 dump 2>"$WORK/dump.log")
  expect_eq "quorvane-cli dump of the simulator succeeds" 0 "$?"
  # Names are compared without their trailing blanks (the module pads to 12).
  strip() { sed 's/ *$//'; }
  missing=$(grep -vxF -f <(printf '%s\n' "$dump" | strip) <(strip <"$WORK/shown.txt"))
  expect_eq "the module holds every value the windows showed ($(wc -l <"$WORK/shown.txt") values)" "" "$missing"
  if [ -n "$missing" ]; then
    while IFS= read -r l; do
      prop=${l%% = *}
      echo "     shown: $l   module: $(printf '%s\n' "$dump" | grep -F "$prop = " | head -1)" >&2
    done <<<"$missing"
  fi
fi

# --- the simulator's own account ----------------------------------------------------
kill -INT "$SIM_PID"
for _ in $(seq 1 50); do kill -0 "$SIM_PID" 2>/dev/null || break; sleep 0.1; done
kill -0 "$SIM_PID" 2>/dev/null && { fail "the simulator stops on SIGINT"; kill -KILL "$SIM_PID"; }
wait "$SIM_PID" 2>/dev/null
SIM_PID=""
report=$(grep 'stopped by' "$WORK/sim.log")
echo "     simulator: $report"
lost=$(printf '%s' "$report" | sed -n 's/.*lost to gap \([0-9]*\).*/\1/p')
received=$(printf '%s' "$report" | sed -n 's/.*received \([0-9]*\).*/\1/p')
if [ -z "$lost" ]; then fail "the simulator's stop report names no loss count: [$report]"
else expect_eq "the simulator lost no message (of ${received:-?} received)" 0 "$lost"; fi
# Every message was one the module takes: no foreign frame, wrong device ID or channel.
expect_eq "the simulator ignored no message" 0 "$(printf '%s' "$report" | sed -n 's/.*ignored \([0-9]*\).*/\1/p')"

finish
