#!/usr/bin/env bash
# Swap, put back and recover through quorvane-cli against the simulator on a
# private JACK server. On a wire that loses every message closer than 60 ms to
# the previous one the swap ends verified, or says which patches are wrong and
# never "Swapped"; a module stopped (SIGSTOP) in the middle of a swap makes the
# tool give up after one request and its quiet retries, leaves a journal, and
# `recover` puts the originals back once the module runs again; a restore it
# cuts off says what it wrote and finishes when run again. The port list
# numbers the virtual module 0 in both directions, and an index it lists opens
# that port.
set -u
CLI=$(realpath "${1:?usage: journal_jack.sh path/to/quorvane-cli path/to/quorvane-u220sim}")
SIM=$(realpath "${2:?usage: journal_jack.sh path/to/quorvane-cli path/to/quorvane-u220sim}")
. "$(dirname "$0")/lib.sh"

jack_script_setup
command -v jackd >/dev/null || die "jackd is not installed (scripts/install-deps.sh installs jackd2)"
cd "$WORK" || exit 1
start_jackd "$WORK/jackd.log" || die "no JACK server came up"

cli() {
  local sim=$1
  shift
  timeout 240 "$CLI" --in "$sim" --out "$sim" --timeout-ms 1000 "$@"
}
name_in() { timeout 60 "$CLI" --virtual-from "$1" get MemoryPatchName "$2"; }

start_sim jnlossy --verbose --wire --min-gap-ms 60 --answer-delay-ms 10
start_sim jnstop --verbose --wire --min-gap-ms 20 --answer-delay-ms 10

# --- the port list ------------------------------------------------------------
ports=$(timeout 60 "$CLI" ports)
expect_eq "the virtual module is input 0" 1 "$(printf '%s\n' "$ports" | grep -c $'^in\t0\tQuorvane virtual U-220$')"
expect_eq "the virtual module is output 0" 1 "$(printf '%s\n' "$ports" | grep -c $'^out\t0\tQuorvane virtual U-220$')"
in_index=$(printf '%s\n' "$ports" | awk -F'\t' '$1 == "in" && $3 ~ /jnlossy/ { print $2 }')
out_index=$(printf '%s\n' "$ports" | awk -F'\t' '$1 == "out" && $3 ~ /jnlossy/ { print $2 }')
expect_rc "the listed indexes open the simulator's ports" 0 timeout 60 "$CLI" --in "$in_index" --out "$out_index" --gap-ms 80 probe

timeout 60 "$CLI" backup reference.syx >/dev/null || die "backup of the built-in module failed"
name10=$(name_in reference.syx 10)
name20=$(name_in reference.syx 20)

# --- a swap on a wire that loses messages closer than 60 ms -------------------
start=$SECONDS
out=$(cli jnlossy swap-patch 10 20 2>"$WORK/lossy.err")
rc=$?
echo "     (swap on the lossy wire: exit $rc after $((SECONDS - start)) s: $out $(tr '\n' ' ' <"$WORK/lossy.err"))"
expect_rc "back-up of the module after the swap" 0 cli jnlossy --gap-ms 80 backup after.syx
if [ "$rc" -eq 0 ]; then
  expect_eq "the swap says it verified" "Swapped patch 10 with patch 20; verified." "$out"
  expect_eq "patch 10 holds the old patch 20" "$name20" "$(name_in after.syx 10)"
  expect_eq "patch 20 holds the old patch 10" "$name10" "$(name_in after.syx 20)"
  # The journal kept what the swap overwrote: put back, the module is as before.
  expect_rc "put-back of the swap" 0 cli jnlossy put-back
  expect_rc "back-up after the put back" 0 cli jnlossy --gap-ms 80 backup putback.syx
  cmp -s reference.syx putback.syx && pass "put back: the module equals its first back-up byte for byte" \
    || fail "put back: the module differs from its first back-up"
else
  [[ "$out" != *Swapped* ]] && pass "a failed swap does not say Swapped" || fail "said [$out]"
  grep -q "patch" "$WORK/lossy.err" && pass "says which patches are wrong" || fail "[$(cat "$WORK/lossy.err")]"
fi

# --- a module stopped in the middle of a swap ---------------------------------
# A stopped JACK client stalls the server's cycles (and no new client can join)
# until it runs again, so the module is let go on as soon as the tool has said
# that it gave up; the tool must say so within a few time limits.
data_sets_in() { grep -c '\] in  F0 41 [0-9A-F][0-9A-F] 2B 12' "$WORK/jnstop.log"; }
now_ms() { echo $(( ${EPOCHREALTIME/./} / 1000 )); }
# stopped_midway WHAT PATTERN N COMMAND...: runs the command, stops the simulator
# once its log shows PATTERN N more times than at the start, and waits for the
# command's message on stderr; sets RC and GAVE_UP_MS (from the stop to the message).
stopped_midway() {
  local what=$1 pattern=$2 count=$3 before stopped
  shift 3
  before=$(grep -c "$pattern" "$WORK/jnstop.log")
  "$@" >"$WORK/$what.out" 2>"$WORK/$what.err" &
  local pid=$!
  for _ in $(seq 1 6000); do
    [ "$(grep -c "$pattern" "$WORK/jnstop.log")" -ge $((before + count)) ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.01
  done
  kill -STOP "$PID_jnstop"
  stopped=$(now_ms)
  for _ in $(seq 1 1200); do
    grep -qv ' holds ' "$WORK/$what.err" && break  # (a restore first says what the file holds)
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  GAVE_UP_MS=$(( $(now_ms) - stopped ))
  kill -CONT "$PID_jnstop"
  wait "$pid"
  RC=$?
}

DATA_SET='\] in  F0 41 [0-9A-F][0-9A-F] 2B 12'
stopped_midway stop "$DATA_SET" 1 cli jnstop swap-patch 10 20
expect_eq "the cut-off swap ends with exit 3 (no answer)" 3 "$RC"
# One request of 4 pieces and 2 quiet retries of one, 1 s each: about 3 s.
[ "$GAVE_UP_MS" -le 15000 ] && pass "said it gave up ${GAVE_UP_MS} ms after the module stopped" \
  || fail "said it gave up only ${GAVE_UP_MS} ms after the module stopped"
[[ "$(cat "$WORK/stop.out")" != *Swapped* ]] && pass "the cut-off swap does not say Swapped" || fail "said [$(cat "$WORK/stop.out")]"
grep -q "the originals are kept in the journal" "$WORK/stop.err" && grep -q "'quorvane-cli recover' puts the originals back" "$WORK/stop.err" \
  && pass "says the originals wait in the journal and how to put them back" || fail "[$(cat "$WORK/stop.err")]"
echo "     ($(cat "$WORK/stop.err"))"
[ -s "$QUORVANE_DATA_DIR/journal.syx" ] && pass "the journal is on disk" || fail "no journal in $QUORVANE_DATA_DIR"

# A back-up that loses the module after its first answers: given up after one
# request and its quiet retries.
stopped_midway backup '\] out at' 1 cli jnstop backup never.syx
expect_eq "a back-up from the stopped module ends with exit 3" 3 "$RC"
[ "$GAVE_UP_MS" -le 20000 ] && pass "the back-up said it gave up ${GAVE_UP_MS} ms after the module stopped" \
  || fail "the back-up said it gave up only ${GAVE_UP_MS} ms after the module stopped"
echo "     ($(cat "$WORK/backup.err"))"
[ ! -e never.syx ] && pass "no back-up file" || fail "a file was left"
sleep 1

# While the journal waits, a copy over other patches is refused and sends nothing.
before=$(data_sets_in)
expect_rc "a copy over other patches waits for the journal" 1 cli jnstop copy-patch 3 4
[[ "$LAST_ERR" == *"An interrupted swap patch 10 with patch 20"* ]] && pass "says what waits" || fail "[$LAST_ERR]"
expect_eq "nothing was written" "$before" "$(data_sets_in)"

out=$(cli jnstop recover 2>"$WORK/recover.err")
rc=$?
expect_eq "recover ends verified" 0 "$rc"
[[ "$out" == "Put back patches 10, 20 as they were before the interrupted swap patch 10 with patch 20; verified." ]] \
  && pass "recover says what it put back" || fail "recover said [$out] [$(cat "$WORK/recover.err")]"
expect_rc "back-up after recover" 0 cli jnstop backup recovered.syx
cmp -s reference.syx recovered.syx && pass "recovered: the module equals its first back-up byte for byte" \
  || fail "recovered: the module differs from its first back-up"
expect_eq "nothing left to recover" \
  "Nothing to recover: no interrupted copy, swap or restore waits in $QUORVANE_DATA_DIR." "$(cli jnstop recover 2>/dev/null)"

# --- a restore cut off by a stopped module, finished by restoring again -------
# A file that differs from the module: patches 1 and 2 swapped on the other simulator.
expect_rc "swap on the other module" 0 cli jnlossy --gap-ms 80 swap-patch 1 2
expect_rc "back-up of the other module" 0 cli jnlossy --gap-ms 80 backup changed.syx
# Stopped once the first batch of 32 data sets is verified and the second is going out.
stopped_midway restore "$DATA_SET" 40 cli jnstop restore changed.syx
expect_eq "the cut-off restore ends with exit 3 (no answer)" 3 "$RC"
[ "$GAVE_UP_MS" -le 15000 ] && pass "the restore said it gave up ${GAVE_UP_MS} ms after the module stopped" \
  || fail "the restore said it gave up only ${GAVE_UP_MS} ms after the module stopped"
err=$(grep -v ' holds ' "$WORK/restore.err")
echo "     ($err)"
[[ "$err" == *"The restore did not finish (the U-220 stopped answering): "*" verified; "*" written but not read back; "*" not written."* ]] \
  && pass "says what was verified, written and not written" || fail "[$err]"
[[ "$err" == *" ('quorvane-cli restore changed.syx' finishes it; 'quorvane-cli recover' puts the originals back.)" ]] \
  && pass "says how to finish it or put the originals back" || fail "[$err]"
[[ "$(cat "$WORK/restore.out")" != *Restored* ]] && pass "the cut-off restore does not say Restored" || fail "said [$(cat "$WORK/restore.out")]"
sleep 1
expect_eq "restoring again finishes it" \
  "Restored master setup, 64 patches, 128 timbres, 4 rhythm setups, working area; all verified." \
  "$(cli jnstop restore changed.syx 2>/dev/null)"
expect_rc "back-up after the restore" 0 cli jnstop backup restored.syx
cmp -s changed.syx restored.syx && pass "restored: the module equals the file byte for byte" \
  || fail "restored: the module differs from the file"

end_sim jnlossy
echo "     (lossy module: $(grep 'stopped by' "$WORK/jnlossy.log"))"
end_sim jnstop
finish
