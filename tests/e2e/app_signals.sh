#!/usr/bin/env bash
# The editor ends cleanly on SIGINT and SIGTERM, as File > Exit does: exit 0
# within a few seconds and no MIDI port left on the JACK server, whether it is
# idle in the main window, waiting for a module at a real module's pace, in the
# middle of a back-up (gone within 2 s, no file, nothing more sent), showing
# the "not responding" box, or still in the setup dialog. The editor runs
# offscreen with its ports picked on the command line (--in/--out), on a JACK
# server of this script's own with quorvane-u220sim as the module.
set -u
APP=${1:?usage: app_signals.sh path/to/quorvane path/to/quorvane-u220sim}
SIM=${2:?usage: app_signals.sh path/to/quorvane path/to/quorvane-u220sim}
. "$(dirname "$0")/lib.sh"

WORK=$(mktemp -d)
SERVER="quorvane-sig-$$"
export JACK_NO_AUDIO_RESERVATION=1 JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER="$SERVER"
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$WORK/run" HOME="$WORK/home"
mkdir -p "$XDG_RUNTIME_DIR" "$HOME"
chmod 700 "$XDG_RUNTIME_DIR"
JACKD_PID=""
PIDS=()

cleanup() {
  local p
  # SIGTERM first: the simulators (and an editor left by a failed check) close
  # their JACK clients, so the server stops at once.
  for p in "${PIDS[@]}"; do kill -TERM "$p" 2>/dev/null; done
  for _ in $(seq 1 50); do
    local alive=0
    for p in "${PIDS[@]}"; do kill -0 "$p" 2>/dev/null && alive=1; done
    [ "$alive" -eq 0 ] && break
    sleep 0.1
  done
  for p in "${PIDS[@]}"; do kill -KILL "$p" 2>/dev/null; done
  for p in "${PIDS[@]}"; do wait "$p" 2>/dev/null; done
  if [ -n "$JACKD_PID" ]; then
    kill -TERM "$JACKD_PID" 2>/dev/null
    wait "$JACKD_PID" 2>/dev/null
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

die() {
  echo "FATAL: $*" >&2
  local f
  for f in "$WORK"/*.log; do [ -s "$f" ] && { echo "--- $f" >&2; tail -20 "$f" >&2; }; done
  echo "$PASSED passed, $((FAILED + 1)) failed"
  exit 1
}

command -v jackd >/dev/null || die "jackd is not installed (scripts/install-deps.sh installs jackd2)"
# JACK allows a few servers per machine; when others' test servers fill them,
# try again for a while before giving up.
up=0
for attempt in 1 2 3 4 5 6; do
  jackd -n "$SERVER" --no-realtime -S -t 5000 -d dummy -r 48000 -p 512 >"$WORK/jackd.log" 2>&1 &
  JACKD_PID=$!
  for _ in $(seq 1 100); do
    kill -0 "$JACKD_PID" 2>/dev/null || break
    if jack_lsp >/dev/null 2>&1; then up=1; break; fi
    sleep 0.1
  done
  [ "$up" -eq 1 ] && break
  wait "$JACKD_PID" 2>/dev/null
  JACKD_PID=""
  grep -q "Too many servers" "$WORK/jackd.log" || die "jackd exited at start"
  echo "     (every JACK server slot is taken; trying again in 10 s, attempt $attempt)"
  sleep 10
done
[ "$up" -eq 1 ] || die "the JACK server '$SERVER' did not answer within 10 s"

# start_sim NAME [OPTIONS]: a simulator logging what it receives, once ready.
start_sim() {
  local name=$1
  shift
  "$SIM" --api jack --name "$name" --verbose "$@" >"$WORK/$name.out" 2>"$WORK/$name.log" &
  PIDS+=($!)
  for _ in $(seq 1 100); do
    grep -q '^ready$' "$WORK/$name.out" 2>/dev/null && return 0
    sleep 0.1
  done
  die "simulator $name was not ready within 10 s"
}
received() { grep -c '\] in ' "$WORK/$1.log"; }

# wait_for SECONDS COMMAND...: polls until COMMAND succeeds; false on time-out.
wait_for() {
  local limit=$1
  shift
  for _ in $(seq 1 $((limit * 10))); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
at_least() { [ "$(received "$1")" -ge "$2" ]; }
editor_ports() { jack_lsp 2>/dev/null | grep -ci quorvane; }
has_editor_ports() { [ "$(editor_ports)" -gt 0 ]; }
no_editor_ports() { [ "$(editor_ports)" -eq 0 ]; }

start_sim sigfast --answer-delay-ms 1
start_sim sigslow --wire --min-gap-ms 20 --answer-delay-ms 400
start_sim sigsilent --silent

# start_editor NAME ARGS...: the editor in the background, its pid in EDITOR.
start_editor() {
  local name=$1
  shift
  "$APP" "$@" >"$WORK/$name.app.log" 2>&1 &
  EDITOR=$!
  PIDS+=("$EDITOR")
}

# stop_editor NAME SIGNAL: the editor must end by itself, exit 0, and leave no
# port behind. 15 s is generous: one open request can hold the end for at most
# its 3 s limit.
stop_editor() {
  local name=$1 sig=$2 rc gone=0
  kill -s "$sig" "$EDITOR"
  for _ in $(seq 1 150); do
    kill -0 "$EDITOR" 2>/dev/null || { gone=1; break; }
    sleep 0.1
  done
  if [ "$gone" -eq 0 ]; then
    fail "$name: still running 15 s after SIG$sig"
    command -v gdb >/dev/null && gdb -p "$EDITOR" -batch -ex "thread apply all bt 30" 2>/dev/null | grep -E '^#|^Thread' >&2
    kill -KILL "$EDITOR"
    wait "$EDITOR" 2>/dev/null
    return
  fi
  wait "$EDITOR"
  rc=$?
  expect_eq "$name: SIG$sig ends the editor with exit 0" 0 "$rc"
  if wait_for 5 no_editor_ports; then pass "$name: no editor port left on JACK"
  else fail "$name: ports left on JACK: $(jack_lsp | grep -i quorvane | tr '\n' ' ')"; fi
}

# --- idle in the main window, everything loaded ------------------------------
# 64 + 128 + 4 names and the master setup: the editor got past the dialog with
# the ports from its command line, and loaded everything.
start_editor idle --in sigfast --out sigfast --device-id 17
if wait_for 60 at_least sigfast 200; then pass "idle: connected by --in/--out and loaded the names"
else fail "idle: the module got $(received sigfast) requests"; fi
wait_for 10 has_editor_ports && pass "idle: the editor has its ports on JACK" || fail "idle: no editor port on JACK"
sleep 1
stop_editor idle INT
idle_requests=$(received sigfast)

# --- at a real module's pace, while a request waits for its answer ------------------
# The signal comes while the editor waits for the slow module; a question the
# end of that wait would ask (the "not responding" box) must not hold the end.
start_editor slow --in sigslow --out sigslow
if wait_for 30 at_least sigslow 4; then pass "slow: requests reach the slow module"
else fail "slow: the slow module got $(received sigslow) requests"; fi
before=$(received sigslow)
stop_editor slow TERM
after=$(received sigslow)
if [ "$after" -lt 190 ]; then pass "slow: stopped in the middle ($before requests before, $after in all)"
else fail "slow: everything was loaded before the signal ($after requests): no wait was tested"; fi

# --- during a back-up at a real module's pace --------------------------------------
# --back-up starts File > Back Up Module... once the names are in. SIGTERM in the
# middle ends the transfer at once, as Cancel does: the process is gone within
# 2 s, no file is left, and the module hears nothing more.
start_sim sigwire --wire --min-gap-ms 20 --answer-delay-ms 1
start_editor backup --in sigwire --out sigwire --back-up "$WORK/backup.syx"
# About 200 requests load the master setup and the names; the back-up's reads follow.
if wait_for 90 at_least sigwire 300; then pass "backup: the back-up is under way"
else fail "backup: the module got $(received sigwire) requests"; fi
t0=$(date +%s%N)
kill -TERM "$EDITOR"
gone=0
for _ in $(seq 1 750); do
  kill -0 "$EDITOR" 2>/dev/null || { gone=1; break; }
  sleep 0.02
done
ms=$(( ($(date +%s%N) - t0) / 1000000 ))
if [ "$gone" -eq 1 ]; then
  wait "$EDITOR"
  expect_eq "backup: SIGTERM ends the editor with exit 0" 0 "$?"
  if [ "$ms" -le 2000 ]; then pass "backup: gone ${ms} ms after SIGTERM"
  else fail "backup: gone only ${ms} ms after SIGTERM (at most 2000)"; fi
else
  fail "backup: still running 15 s after SIGTERM"
  kill -KILL "$EDITOR"
  wait "$EDITOR" 2>/dev/null
fi
at_exit=$(received sigwire)
sleep 1
expect_eq "backup: no request after the end" "$at_exit" "$(received sigwire)"
if [ ! -e "$WORK/backup.syx" ] && [ -z "$(ls "$WORK" | grep -F backup.syx.)" ]; then pass "backup: no file left"
else fail "backup: left $(ls "$WORK" | grep -F backup.syx | tr '\n' ' ')"; fi
if wait_for 5 no_editor_ports; then pass "backup: no editor port left on JACK"
else fail "backup: ports left on JACK: $(jack_lsp | grep -i quorvane | tr '\n' ' ')"; fi

# --- the "not responding" box over the setup dialog -------------------------------
start_editor silent --in sigsilent --out sigsilent
if wait_for 10 at_least sigsilent 1; then pass "silent: the editor asked the module"
else fail "silent: the module got no request"; fi
sleep 4  # past the 3 s probe: the "not responding" box is up
kill -0 "$EDITOR" 2>/dev/null && pass "silent: the editor waits for the user" || fail "silent: the editor ended by itself"
stop_editor silent TERM

# --- a port that is not there: the dialog opens, and says why ---------------------
start_editor missing --in nosuchport --out nosuchport
wait_for 10 grep -q "no MIDI input port matches 'nosuchport'" "$WORK/missing.app.log" \
  && pass "missing: says the port is not there" || fail "missing: log [$(cat "$WORK/missing.app.log")]"
sleep 1
kill -0 "$EDITOR" 2>/dev/null && pass "missing: the setup dialog is open" || fail "missing: the editor ended by itself"
stop_editor missing INT

# --- a part of a name that fits two ports is refused, not guessed -------------------
start_editor ambiguous --in sig --out sig
wait_for 10 grep -q "'sig' fits more than one MIDI input port" "$WORK/ambiguous.app.log" \
  && pass "ambiguous: says which ports fit" || fail "ambiguous: log [$(cat "$WORK/ambiguous.app.log")]"
sleep 1
if [ "$(received sigfast)" -eq "$idle_requests" ]; then pass "ambiguous: nothing was sent to a guessed port"
else fail "ambiguous: the editor sent to sigfast"; fi
stop_editor ambiguous TERM

finish
