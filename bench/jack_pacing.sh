#!/usr/bin/env bash
# Pacing as the module receives it: quorvane-cli against quorvane-u220sim on a
# private JACK server, the simulator losing every message that starts less than
# 20 ms after the end of the previous one. Prints, per kind of run, how many runs
# succeeded and how many messages the simulator lost (its stop report).
#
#   bench/jack_pacing.sh CLI SIM [PERIOD_FRAMES] [REPEAT] [BURST_WRITES]
#
# e.g. bench/jack_pacing.sh build/tools/quorvane-cli/quorvane-cli \
#        build/tools/quorvane-u220sim/quorvane-u220sim 512 20 build/bench/burst_writes
#
# bench/jack_figures.sh gives the figures beside it: time per exchange against
# the wire time at 64 and 512 frames, a restore under two busy loops, a one-shot
# `get`, and the idle editor's CPU.
# BURST_WRITES (bench/burst_writes.cpp) adds 198 quick writes in one session.
set -u
CLI=${1:?usage: jack_pacing.sh CLI SIM [PERIOD_FRAMES] [REPEAT]}
SIM=${2:?usage: jack_pacing.sh CLI SIM [PERIOD_FRAMES] [REPEAT]}
PERIOD=${3:-512}
REPEAT=${4:-20}
BURST=${5:-}
EXTRA=${CLI_OPTIONS:-}

WORK=$(mktemp -d)
SERVER="quorvane-pacing-$$"
export JACK_NO_AUDIO_RESERVATION=1 JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER="$SERVER"
JACKD_PID=""
SIM_PID=""
cleanup() {
  [ -n "$SIM_PID" ] && kill -TERM "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
  [ -n "$JACKD_PID" ] && kill -TERM "$JACKD_PID" 2>/dev/null && wait "$JACKD_PID" 2>/dev/null
  [ -n "${KEEP:-}" ] && echo "kept $WORK" || rm -rf "$WORK"
}
trap cleanup EXIT

jackd -n "$SERVER" --no-realtime -S -t 5000 -d dummy -r 48000 -p "$PERIOD" >"$WORK/jackd.log" 2>&1 &
JACKD_PID=$!
for _ in $(seq 1 100); do jack_lsp >/dev/null 2>&1 && break; sleep 0.1; done

sim_start() {
  "$SIM" --api jack --name pacing --wire --min-gap-ms 20 "$@" >"$WORK/sim.out" 2>"$WORK/sim.log" &
  SIM_PID=$!
  XRUNS_BEFORE=$(xruns)
  for _ in $(seq 1 100); do grep -q '^ready$' "$WORK/sim.out" 2>/dev/null && return 0; sleep 0.1; done
  echo "simulator not ready" >&2
  exit 1
}
# Stops the simulator with SIGINT; STATS becomes "received N, lost M, server
# late K times" (cycles the JACK server ran late meanwhile: what was sent then
# arrives bunched whatever the pacing, so a loss beside them says little).
XRUNS_BEFORE=0
xruns() { grep -c 'XRun' "$WORK/jackd.log"; }
sim_stop() {
  kill -INT "$SIM_PID"
  wait "$SIM_PID" 2>/dev/null
  SIM_PID=""
  STATS=$(sed -n 's/.*; received \([0-9]*\),.* lost to gap \([0-9]*\);.*/received \1, lost \2/p' "$WORK/sim.log")
  STATS="$STATS, server late $(( $(xruns) - XRUNS_BEFORE )) times"
}
cli() { timeout 120 "$CLI" --in pacing --out pacing $EXTRA "$@" >/dev/null 2>&1; }

# run NAME COUNT COMMAND...: COUNT runs of one quorvane-cli command.
run() {
  local name=$1 count=$2 ok=0 start end
  shift 2
  sim_start
  start=$(date +%s.%N)
  for _ in $(seq 1 "$count"); do cli "$@" && ok=$((ok + 1)); done
  end=$(date +%s.%N)
  sim_stop
  printf '%-28s %3d of %3d ok, %s, %.1f s\n' "$name" "$ok" "$count" "$STATS" "$(echo "$end - $start" | bc)"
}

# Writes to different addresses, one run each, as a script would make them.
writes() {
  local ok=0 n=0 start end s
  local sets=("PatchPartPan 1 3" "PatchPartLevel 2 90" "PatchCommonChorusLevel 17" "TimbreEnvAttackRate 4 3"
              "RhythmSetupInstPan 5 12" "PatchRhythmLevel 99" "PatchPartVeloThreshold 6 0" "RhythmSetupCommonBenderRangeLower 7")
  sim_start
  start=$(date +%s.%N)
  for _ in $(seq 1 "$REPEAT"); do
    for s in "${sets[@]}"; do
      n=$((n + 1))
      # shellcheck disable=SC2086
      cli set $s && ok=$((ok + 1))
    done
  done
  end=$(date +%s.%N)
  sim_stop
  printf '%-28s %3d of %3d ok, %s, %.1f s\n' "quick writes (set)" "$ok" "$n" "$STATS" "$(echo "$end - $start" | bc)"
}

echo "JACK period $PERIOD frames at 48 kHz; simulator --wire --min-gap-ms 20; cli options: ${EXTRA:-none}"
run "probe" "$REPEAT" probe
run "dump" 3 dump
run "dump --retries 5" 3 --retries 5 dump
run "names patches" 3 names patches
writes
if [ -n "$BURST" ]; then
  sim_start
  said=$("$BURST" pacing --count 198 2>&1 | tail -1)
  sim_stop
  printf '%-28s %s; %s\n' "burst of 198 writes" "$said" "$STATS"
fi
