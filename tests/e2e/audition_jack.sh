#!/usr/bin/env bash
# Audition of library sounds through quorvane-cli against the simulator on a
# private JACK server, at a real module's pace and in a record packing of its
# own. The library holds a bank from another module (the built-in virtual
# module in another packing, so every record differs from the simulator's). An
# audition leaves every memory byte as it was; an audition killed (SIGKILL) at
# a random point leaves a journal, and `library recover` brings every memory
# back byte for byte. The working area may differ: it plays the last sound.
set -u
CLI=$(realpath "${1:?usage: audition_jack.sh path/to/quorvane-cli path/to/quorvane-u220sim}")
SIM=$(realpath "${2:?usage: audition_jack.sh path/to/quorvane-cli path/to/quorvane-u220sim}")
. "$(dirname "$0")/lib.sh"

jack_script_setup
command -v jackd >/dev/null || die "jackd is not installed (scripts/install-deps.sh installs jackd2)"
cd "$WORK" || exit 1
# A client killed in the middle of a cycle stalls the server for about ten
# client time-outs (50 s at the default 5000 ms): a shorter one keeps a kill
# from costing the next command most of a minute, and 1.5 s still lets a
# client on a busy machine finish its cycle.
JACK_CLIENT_TIMEOUT_MS=1500 start_jackd "$WORK/jackd.log" || die "no JACK server came up"

LIB=(--library "$WORK/library.sqlite")
cli() { timeout 240 "$CLI" --in aud --out aud --timeout-ms 1500 "$@"; }
# The memories of a back-up file (master setup, timbres, patches, rhythm setups:
# the data sets below address 10 00 00), one data set a line, in hex.
memories() {
  od -An -v -tx1 "$1" | tr -s ' \n' '\n\n' | awk 'NF { m = m " " $1; if ($1 == "f7") { print m; m = "" } }' | awk '$6 < "10"'
}

start_sim aud --wire --min-gap-ms 20 --answer-delay-ms 400 --packing-seed 7

timeout 60 "$CLI" --virtual --packing-seed 3 backup bank.syx >/dev/null || die "back-up of the other module failed"
timeout 60 "$CLI" "${LIB[@]}" library import bank.syx >/dev/null || die "import of the bank failed"
# Patches of the bank, to audition with its timbres and rhythm setups.
mapfile -t patches < <(timeout 60 "$CLI" "${LIB[@]}" library list --type patch | cut -f1)
timbre=$(timeout 60 "$CLI" "${LIB[@]}" library list --type timbre --limit 1 | cut -f1)
[ "${#patches[@]}" -eq 64 ] && pass "the bank's 64 patches are in the library" || fail "${#patches[@]} patches"

start=$SECONDS
expect_rc "back-up of the module" 0 cli backup reference.syx
echo "     (a back-up takes $((SECONDS - start)) s)"
memories reference.syx >reference.mem
[ -s reference.mem ] || die "no memories in the first back-up"

# --- whole auditions: a patch in the module's current patch, a timbre on part 2
start=$SECONDS
out=$(cli "${LIB[@]}" library audition "${patches[5]}" 2>"$WORK/whole.err")
rc=$?
echo "     (audition of a patch with its bank: exit $rc after $((SECONDS - start)) s)"
expect_eq "the audition of a patch ends done" 0 "$rc"
[[ "$out" == "Auditioning "*" — not stored"$'\n'"part timbres"$'\t'* ]] && pass "says what it plays and its part timbres" \
  || fail "said [$out] [$(cat "$WORK/whole.err")]"
expect_rc "a timbre on part 2" 0 cli "${LIB[@]}" library audition "$timbre" --part 2
# (The memories after these are compared below, with those after the first recover.)
expect_eq "nothing to recover after whole auditions" \
  "Nothing to recover: nothing interrupted waits in $QUORVANE_DATA_DIR." "$(cli library recover 2>/dev/null)"

# --- auditions killed at a random point, then recovered -----------------------
for seed in 11 23 37; do
  RANDOM=$seed
  delay_ms=$((1000 + RANDOM % 8000))
  item=${patches[$((RANDOM % 64))]}
  "$CLI" --in aud --out aud --timeout-ms 1500 "${LIB[@]}" library audition "$item" --scratch $((1 + RANDOM % 64)) \
    >"$WORK/killed.out" 2>&1 &
  pid=$!
  sleep "$((delay_ms / 1000)).$(printf '%03d' $((delay_ms % 1000)))"
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  if grep -qx 'state: open' "$QUORVANE_DATA_DIR/journal.txt" 2>/dev/null; then state="journal open"
  else state="no open journal"; fi
  echo "     (seed $seed: item $item killed after $delay_ms ms: $state)"
  sleep 1  # what the killed tool left on the wire has been answered
  out=$(cli library recover 2>"$WORK/recover.err")
  rc=$?
  expect_eq "seed $seed: recover ends done" 0 "$rc"
  if [ "$state" == "journal open" ]; then
    [[ "$out" == "Put back "*"; verified." ]] && pass "seed $seed: recover says what it put back" \
      || fail "seed $seed: recover said [$out] [$(cat "$WORK/recover.err")]"
  fi
  expect_rc "seed $seed: back-up after recover" 0 cli backup "recovered-$seed.syx"
  memories "recovered-$seed.syx" >"recovered-$seed.mem"
  cmp -s reference.mem "recovered-$seed.mem" && pass "seed $seed: every memory is back byte for byte" \
    || fail "seed $seed: a memory differs from the first back-up"
  [ "$seed" -eq 11 ] && echo "     (so every memory was as before after the whole auditions too)"
done

end_sim aud || fail "the simulator had to be killed"
stats=$(grep 'stopped by' "$WORK/aud.log")
echo "     ($stats)"
[[ "$stats" == *"lost to gap 0;"* ]] && pass "the simulator lost no message to the gap" || fail "[$stats]"
finish
