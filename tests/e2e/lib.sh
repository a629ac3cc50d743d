# Shared helpers of the end-to-end scripts: counted checks and a closing line.
PASSED=0
FAILED=0

pass() { PASSED=$((PASSED + 1)); echo "ok   - $1"; }
fail() { FAILED=$((FAILED + 1)); echo "FAIL - $1" >&2; }

# expect_eq NAME EXPECTED ACTUAL
expect_eq() {
  if [ "$2" == "$3" ]; then pass "$1"; else fail "$1: expected [$2], got [$3]"; fi
}

# expect_rc NAME EXPECTED_RC COMMAND... (stderr of the command kept in $LAST_ERR)
expect_rc() {
  local name=$1 want=$2 rc
  shift 2
  LAST_ERR=$("$@" 2>&1 >/dev/null)
  rc=$?
  if [ "$rc" -eq "$want" ]; then pass "$name"; else fail "$name: exit $rc, expected $want (stderr: $LAST_ERR)"; fi
}

finish() {
  echo "$PASSED passed, $FAILED failed"
  [ "$FAILED" -eq 0 ]
}

# start_jackd LOGFILE: starts a private JACK server (dummy driver, 512 frames at
# 48 kHz) and waits until it answers; sets JACKD_PID and exports
# JACK_DEFAULT_SERVER. Returns 1 when no server came up. JACK_CLIENT_TIMEOUT_MS
# (default 5000) is the server's client time-out: a client killed in the middle
# of a cycle stalls the server for about ten of them.
#
# The name comes from a small pool rather than from the process ID: the JACK
# library keeps a fixed number of server slots and reclaims the slot of a dead
# server only for a new server of the same name, so unique names would use the
# slots up one crash at a time ("Too many servers already active"). A name is
# taken under a lock file that the server inherits, so two runs never share a
# server (a client asking for a name reaches whichever server has it); a name
# a live server already uses is skipped.
start_jackd() {
  local log=$1 i name
  export JACK_NO_AUDIO_RESERVATION=1 JACK_NO_START_SERVER=1
  for i in $(seq 0 15); do
    name="quorvane-e2e-$i"
    exec {JACK_LOCK_FD}>"${TMPDIR:-/tmp}/$name.lock" || continue
    if ! flock -n "$JACK_LOCK_FD" || JACK_DEFAULT_SERVER="$name" jack_lsp >/dev/null 2>&1; then
      exec {JACK_LOCK_FD}>&-
      continue
    fi
    jackd -n "$name" --no-realtime -S -t "${JACK_CLIENT_TIMEOUT_MS:-5000}" -d dummy -r 48000 -p 512 >"$log" 2>&1 &
    JACKD_PID=$!
    export JACK_DEFAULT_SERVER="$name"
    for _ in $(seq 1 100); do
      kill -0 "$JACKD_PID" 2>/dev/null || break
      jack_lsp >/dev/null 2>&1 && return 0
      sleep 0.1
    done
    if kill -0 "$JACKD_PID" 2>/dev/null; then
      kill -TERM "$JACKD_PID"; wait "$JACKD_PID" 2>/dev/null
      JACKD_PID=""
      exec {JACK_LOCK_FD}>&-
      return 1  # started but never answered: not a matter of names
    fi
    wait "$JACKD_PID" 2>/dev/null
    JACKD_PID=""
    exec {JACK_LOCK_FD}>&-
  done
  if grep -q 'Too many servers' "$log"; then
    echo "every JACK server slot is taken; a slot of a server that died stays taken until a server" \
      "of the same name starts (see the names in /dev/shm/jack-shm-registry)" >>"$log"
  fi
  return 1
}

# jack_script_setup: for a script that runs simulators on a JACK server of its
# own (needs SIM): a work folder in $WORK, and the simulators and the server
# ended when the script ends, however it ends.
jack_script_setup() {
  WORK=$(mktemp -d)
  # The journal of overwritten memories goes here, not into the user's data folder.
  export QUORVANE_DATA_DIR="$WORK/data"
  JACKD_PID=""
  SIM_PIDS=()
  trap jack_script_cleanup EXIT
  trap 'exit 1' INT TERM
}
jack_script_cleanup() {
  local p
  for p in "${SIM_PIDS[@]}"; do kill -TERM "$p" 2>/dev/null; done
  for p in "${SIM_PIDS[@]}"; do wait "$p" 2>/dev/null; done
  if [ -n "$JACKD_PID" ]; then
    kill -TERM "$JACKD_PID" 2>/dev/null
    wait "$JACKD_PID" 2>/dev/null
  fi
  rm -rf "$WORK"
}

# die MESSAGE: ends the script as failed, with the tail of every log in $WORK.
die() {
  echo "FATAL: $*" >&2
  local f
  for f in "$WORK"/*.log; do [ -s "$f" ] && { echo "--- $f" >&2; tail -20 "$f" >&2; }; done
  echo "$PASSED passed, $((FAILED + 1)) failed"
  exit 1
}

# start_sim NAME [SIM OPTIONS]: starts a simulator on JACK and waits for its "ready".
start_sim() {
  local name=$1
  shift
  "$SIM" --api jack --name "$name" "$@" >"$WORK/$name.out" 2>"$WORK/$name.log" &
  local pid=$!
  SIM_PIDS+=("$pid")
  eval "PID_$name=$pid"
  for _ in $(seq 1 100); do
    grep -q '^ready$' "$WORK/$name.out" 2>/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || die "simulator $name exited before it was ready"
    sleep 0.1
  done
  die "simulator $name was not ready within 10 s"
}

# end_sim NAME: SIGTERM, then up to 5 s for the simulator to end by itself
# (reporting what it received); killed after that. False when it had to be killed.
end_sim() {
  local pid ended=0
  eval "pid=\$PID_$1"
  kill -TERM "$pid"
  for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || { ended=1; break; }; sleep 0.1; done
  [ "$ended" -eq 1 ] || kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  [ "$ended" -eq 1 ]
}
