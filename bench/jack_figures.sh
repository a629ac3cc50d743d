#!/usr/bin/env bash
# The JACK figures: quorvane-cli and the editor against quorvane-u220sim on a
# private JACK server (dummy driver, 48 kHz), the simulator losing every message
# that starts less than 20 ms after the end of the previous one.
#
#   bench/jack_figures.sh BUILD_DIR [WHAT...]
#
# WHAT is any of names64 names512 restore get idle (default: all). Prints:
# - names64/names512: `names patches` at 64/512-frame periods, the time per
#   exchange (from the simulator's arrival stamps of the first and the last
#   request) against the wire time of one exchange (the request on the wire plus
#   the 20 ms gap), and the simulator's lost-to-gap count;
# - restore: `restore --no-verify` of a full back-up at 512 frames with two busy
#   loops running, lost to gap, and whether a back-up made afterwards equals it;
# - get: a one-shot `get MasterSetupMTune` over JACK against the virtual module;
# - idle: CPU of the idle editor (offscreen) on the simulator over 30 s at 256 frames.
set -u
BUILD=${1:?usage: jack_figures.sh BUILD_DIR [WHAT...]}
shift
WHAT=${*:-names64 names512 restore get idle}
CLI=$BUILD/tools/quorvane-cli/quorvane-cli
SIM=$BUILD/tools/quorvane-u220sim/quorvane-u220sim
APP=$BUILD/src/app/quorvane
WORK=$(mktemp -d)
export JACK_NO_AUDIO_RESERVATION=1 JACK_NO_START_SERVER=1
JACKD_PID="" SIM_PID="" BUSY_PIDS=() APP_PID=""
cleanup() {
  for p in $APP_PID $SIM_PID "${BUSY_PIDS[@]}" $JACKD_PID; do kill -TERM "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
  [ -n "${KEEP:-}" ] && echo "kept $WORK" || rm -rf "$WORK"
}
trap cleanup EXIT

# A server name per period, reused run after run (JACK keeps a slot per name).
jack_start() {
  export JACK_DEFAULT_SERVER="qv-figures-$1"
  jackd -n "$JACK_DEFAULT_SERVER" --no-realtime -S -t 5000 -d dummy -r 48000 -p "$1" >"$WORK/jackd.log" 2>&1 &
  JACKD_PID=$!
  for _ in $(seq 1 100); do jack_lsp >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "jackd did not start" >&2; exit 1
}
jack_stop() { kill -TERM "$JACKD_PID"; wait "$JACKD_PID" 2>/dev/null; JACKD_PID=""; }
sim_start() {
  "$SIM" --api jack --name figsim --wire --min-gap-ms 20 --verbose "$@" >"$WORK/sim.out" 2>"$WORK/sim.log" &
  SIM_PID=$!
  for _ in $(seq 1 100); do grep -q '^ready$' "$WORK/sim.out" 2>/dev/null && return 0; sleep 0.1; done
  echo "simulator not ready" >&2; exit 1
}
sim_stop() {
  kill -INT "$SIM_PID"; wait "$SIM_PID" 2>/dev/null; SIM_PID=""
  LOST=$(sed -n 's/.* lost to gap \([0-9]*\);.*/\1/p' "$WORK/sim.log")
}
busy_start() { for _ in 1 2; do timeout 300 sh -c 'while :; do :; done' & BUSY_PIDS+=($!); done; }
busy_stop() { for p in "${BUSY_PIDS[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done; BUSY_PIDS=(); }
cli() { timeout 300 "$CLI" --in figsim --out figsim "$@"; }
now() { date +%s.%N; }

# Per exchange from the simulator's stamps of the requests (F0 41 .. 11 ..).
per_exchange() {
  grep ' in  F0 41 .. 2B 11' "$WORK/sim.log" | sed 's/^\[jack \([0-9.]*\) ms\].*/\1/' |
    awk 'NR==1{f=$1} {l=$1; n++} END{ if (n>1) printf "%d requests, %.1f ms per exchange", n, (l-f)/(n-1) }'
}
# Wire time of one exchange: the request (its bytes at 31250 baud) plus the gap.
wire_exchange() {
  grep -m1 ' in  F0 41 .. 2B 11' "$WORK/sim.log" | sed 's/.* in  //' | awk '{ printf "%.1f", NF * 0.32 + 20 }'
}

# The closest any message came to the end of the previous one, as the
# simulator stamped them (ms).
closest_gap() {
  grep ' in  ' "$WORK/sim.log" | sed 's/^\[jack \([0-9.]*\) ms\] in  \(.*\)/\1 \2/' |
    awk '{ if (NR > 1) { g = $1 - end; if (min == "" || g < min) min = g } end = $1 + (NF - 1) * 0.32 }
         END { printf "%.1f", min }'
}

names() {
  jack_start "$1"
  sim_start
  cli names patches >/dev/null 2>"$WORK/cli.err" || echo "names failed: $(cat "$WORK/cli.err")"
  sim_stop
  local per wire
  per=$(per_exchange); wire=$(wire_exchange)
  printf 'names patches, %4d frames: %s, wire %s ms (%.2fx), lost %s\n' "$1" "$per" "$wire" \
    "$(echo "$per" | sed 's/.*, \([0-9.]*\) ms per.*/\1/' | awk -v w="$wire" '{print $1 / w}')" "$LOST"
  jack_stop
}

restore() {
  jack_start 512
  "$CLI" --virtual backup "$WORK/virtual.syx" >/dev/null 2>&1 || { echo "backup from the virtual module failed"; return; }
  # Every data byte with its lowest bit turned over, so that any data set lost
  # on the way leaves the module different from the file.
  python3 - "$WORK/virtual.syx" "$WORK/full.syx" <<'PY'
import sys
raw = open(sys.argv[1], 'rb').read()
out = bytearray()
for chunk in raw.split(b'\xf7'):
    if not chunk:
        continue
    m = bytearray(chunk)
    if len(m) > 9 and m[0] == 0xF0 and m[1] == 0x41 and m[4] == 0x12:
        for i in range(8, len(m) - 1):
            m[i] ^= 1
        m[-1] = (128 - sum(m[5:-1]) % 128) % 128
    out += m + b'\xf7'
open(sys.argv[2], 'wb').write(out)
PY
  sim_start --answer-delay-ms 40
  busy_start
  sleep "${BUSY_WARMUP:-30}"  # the load average climbs past 2
  local start end rc
  start=$(now)
  cli restore "$WORK/full.syx" --no-verify >/dev/null 2>"$WORK/cli.err"; rc=$?
  end=$(now)
  busy_stop
  cli backup "$WORK/after.syx" >/dev/null 2>&1
  sim_stop
  local same=differs
  cmp -s "$WORK/full.syx" "$WORK/after.syx" && same=equal
  printf 'restore --no-verify, 512 frames, two busy loops: exit %d, %.1f s, lost %s, closest gap %s ms, module %s to the file afterwards (load %s)\n' \
    "$rc" "$(echo "$end - $start" | bc)" "$LOST" "$(closest_gap)" "$same" "$(cut -d' ' -f1 /proc/loadavg)"
  jack_stop
}

get() {
  jack_start 512
  sim_start
  local s e v ve
  s=$(now); cli get MasterSetupMTune >/dev/null 2>&1; e=$(now)
  v=$(now); "$CLI" --virtual get MasterSetupMTune >/dev/null 2>&1; ve=$(now)
  sim_stop
  printf 'one-shot get MasterSetupMTune: JACK %.2f s, virtual %.2f s\n' "$(echo "$e - $s" | bc)" "$(echo "$ve - $v" | bc)"
  jack_stop
}

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
idle() {
  jack_start 256
  sim_start --answer-delay-ms 40
  QT_QPA_PLATFORM=offscreen "$APP" --in figsim --out figsim >"$WORK/app.log" 2>&1 &
  APP_PID=$!
  sleep 25  # the start-up reading of names ends well before
  local t0 t1 hz clients
  hz=$(getconf CLK_TCK)
  t0=$(ticks "$APP_PID")
  sleep 30
  t1=$(ticks "$APP_PID")
  clients=$(jack_lsp 2>/dev/null | grep -v '^figsim\|^system' | sed 's/:.*//' | sort -u | tr '\n' ' ')
  kill -TERM "$APP_PID"; wait "$APP_PID" 2>/dev/null; APP_PID=""
  sim_stop
  printf 'idle editor, 256 frames: %.2f %% CPU over 30 s; its JACK clients: %s\n' "$(echo "($t1 - $t0) * 100 / $hz / 30" | bc -l)" "$clients"
  jack_stop
}

for w in $WHAT; do
  case $w in
    names64) names 64 ;;
    names512) names 512 ;;
    restore) restore ;;
    get) get ;;
    idle) idle ;;
    *) echo "unknown: $w" >&2 ;;
  esac
done
