#!/usr/bin/env bash
# End to end on a real MIDI system: a private JACK server with the dummy driver,
# quorvane-u220sim on its virtual JACK ports, and quorvane-cli driving it through
# the RtMidi JACK back end, with the ports chosen by name.
set -u
CLI=${1:?usage: jack_e2e.sh path/to/quorvane-cli path/to/quorvane-u220sim}
SIM=${2:?usage: jack_e2e.sh path/to/quorvane-cli path/to/quorvane-u220sim}
. "$(dirname "$0")/lib.sh"

jack_script_setup

command -v jackd >/dev/null || die "jackd is not installed (scripts/install-deps.sh installs jackd2)"

# --- the JACK server ------------------------------------------------------------
# Small periods keep a request's round trip short.
start_jackd "$WORK/jackd.log" || die "no JACK server came up"
pass "JACK server '$JACK_DEFAULT_SERVER' is up"

# stop_sim NAME: SIGTERM, and the simulator must end by itself, reporting.
stop_sim() {
  if end_sim "$1"; then pass "simulator $1 stops on SIGTERM"; else fail "simulator $1 stops on SIGTERM"; fi
}

expect_rc "simulator refuses a seed that is no whole number" 2 "$SIM" --seed 1.5
start_sim e2eclean
start_sim e2enoisy --answer-delay-ms 2 --foreign 0.3 --damage 0.05 --drop 0.02 --delay 0.05 --delay-ms 100 --seed 7
start_sim e2esilent --silent

# cli SIM [OPTIONS] COMMAND...: the ports are picked by a part of their names.
cli() {
  local sim=$1
  shift
  timeout 60 "$CLI" --in "$sim" --out "$sim" "$@"
}

# --- ports and probe --------------------------------------------------------------
ports=$(timeout 60 "$CLI" ports)
expect_eq "the simulator's input is listed" 1 "$(printf '%s\n' "$ports" | grep -c $'^out\t[0-9]*\t.*e2eclean')"
expect_eq "the simulator's output is listed" 1 "$(printf '%s\n' "$ports" | grep -c $'^in\t[0-9]*\t.*e2eclean')"
expect_rc "probe finds the module" 0 cli e2eclean probe

# --- reference: the factory content, read from the built-in virtual module ---------
reference=$(timeout 60 "$CLI" --virtual dump)
ref_names=$(timeout 60 "$CLI" --virtual names patches)
expect_eq "names over JACK are the module's" "$ref_names" "$(cli e2eclean names patches)"

# --- writes to every block, read back by later runs -----------------------------------
# Each set is its own run, so the value read back is the module's, not the tool's.
master_before=$(printf '%s\n' "$reference" | grep -E '^MasterSetup(PaCh|TiCh|RhCh|RInstCh|Chorus|Reverb) ')
sets=(
  "MasterSetupLCD 5"
  "MasterSetupMTune 441.5"
  "PatchCommonChorusLevel 17"
  "PatchCommonPatchName E2E_Patch"
  "PatchRhythmLevel 99"
  "PatchPartPan 3 9"
  "PatchPartVeloThreshold 6 0"
  "TimbreEnvAttackRate 4 3"
  "TimbreTimbreName 2 ｼﾝｾ"
  "RhythmSetupCommonBenderRangeLower 7"
  "RhythmSeupCommonSetupName Kit/E2E"
  "RhythmSetupInstPan 5 12"
  "RhythmSetupInstMuteInst 63 1"
)
for s in "${sets[@]}"; do
  # shellcheck disable=SC2086
  expect_rc "set $s" 0 cli e2eclean set $s
done
dump=$(cli e2eclean dump)
line() { printf '%s\n' "$dump" | grep -F "$1 = " | head -1; }
expect_eq "master LCD read back" "MasterSetupLCD = 5" "$(line MasterSetupLCD)"
expect_eq "master tune read back" "MasterSetupMTune = 441.5" "$(line MasterSetupMTune)"
expect_eq "master setup writes keep the other fields" "$master_before" \
  "$(printf '%s\n' "$dump" | grep -E '^MasterSetup(PaCh|TiCh|RhCh|RInstCh|Chorus|Reverb) ')"
expect_eq "patch common read back" "PatchCommonChorusLevel = 17" "$(line PatchCommonChorusLevel)"
expect_eq "patch name read back" "PatchCommonPatchName = E2E_Patch   " "$(line PatchCommonPatchName)"
expect_eq "rhythm part read back" "PatchRhythmLevel = 99" "$(line PatchRhythmLevel)"
expect_eq "part 3 pan read back" "PatchPartPan[3] = 9" "$(line 'PatchPartPan[3]')"
expect_eq "part 6 velocity threshold read back" "PatchPartVeloThreshold[6] = 0" "$(line 'PatchPartVeloThreshold[6]')"
expect_eq "timbre 4 attack read back" "TimbreEnvAttackRate[4] = 3" "$(line 'TimbreEnvAttackRate[4]')"
expect_eq "kana timbre name read back" "TimbreTimbreName[2] = ｼﾝｾ         " "$(line 'TimbreTimbreName[2]')"
expect_eq "rhythm common read back" "RhythmSetupCommonBenderRangeLower = 7" "$(line RhythmSetupCommonBenderRangeLower)"
expect_eq "rhythm setup name read back" "RhythmSeupCommonSetupName = Kit/E2E     " "$(line RhythmSeupCommonSetupName)"
expect_eq "instrument 5 pan read back" "RhythmSetupInstPan[5] = 12" "$(line 'RhythmSetupInstPan[5]')"
expect_eq "instrument 63 mute read back" "RhythmSetupInstMuteInst[63] = 1" "$(line 'RhythmSetupInstMuteInst[63]')"
expect_eq "get reads one value" "9" "$(cli e2eclean get PatchPartPan 3)"
# Everything not written is as it was.
changed=$(diff <(printf '%s\n' "$reference") <(printf '%s\n' "$dump") | grep -c '^>')
expect_eq "only the written properties changed" "${#sets[@]}" "$changed"

# --- patch change on the module's Rx control channel -----------------------------------
# With the Rx channel moved to 4 (value 3) a program change on channel 1 would be
# ignored; the new patch is there only when the tool used the module's channel.
expect_rc "set the Rx control channel" 0 cli e2eclean set MasterSetupMIDIRxCh 3
expect_rc "patch 5" 0 cli e2eclean patch 5
expect_eq "the module plays patch 5" "$(printf '%s\n' "$ref_names" | sed -n 5p | cut -f2)" \
  "$(cli e2eclean get PatchCommonPatchName)"
expect_rc "set the Rx control channel Off" 0 cli e2eclean set MasterSetupMIDIRxCh 16
expect_rc "no patch change claimed with the Rx channel Off" 1 cli e2eclean patch 3
[[ "$LAST_ERR" == *"Rx control channel is Off"* ]] && pass "says why" || fail "Rx Off message: [$LAST_ERR]"

# --- a noisy line: foreign and damaged answers, exact values all the same --------------
start=$SECONDS
noisy=$(cli e2enoisy --timeout-ms 300 --retries 20 --verbose dump 2>"$WORK/noisy-cli.log")
rc=$?
expect_eq "dump over a noisy line succeeds" 0 "$rc"
expect_eq "dump over a noisy line is exact" "$reference" "$noisy"
echo "     (noisy dump took $((SECONDS - start)) s)"
counted=$(grep 'received: stored' "$WORK/noisy-cli.log")
foreign_seen=$(printf '%s' "$counted" | sed -n 's/.*foreign \([0-9]*\).*/\1/p')
malformed_seen=$(printf '%s' "$counted" | sed -n 's/.*malformed \([0-9]*\).*/\1/p')
if [ "${foreign_seen:-0}" -gt 0 ] && [ "${malformed_seen:-0}" -gt 0 ]; then pass "foreign and damaged answers were dropped and counted ($counted)"
else fail "the tool counted no foreign or damaged answers: [$counted]"; fi
expect_eq "names over a noisy line are exact" "$ref_names" "$(cli e2enoisy --timeout-ms 300 --retries 20 names patches)"
stop_sim e2enoisy
stats=$(grep 'stopped by' "$WORK/e2enoisy.log")
damaged=$(printf '%s' "$stats" | sed -n 's/.*damaged \([0-9]*\).*/\1/p')
foreign=$(printf '%s' "$stats" | sed -n 's/.*foreign \([0-9]*\).*/\1/p')
if [ "${damaged:-0}" -gt 0 ] && [ "${foreign:-0}" -gt 0 ]; then pass "faults were injected ($stats)"
else fail "the noisy simulator injected no faults: [$stats]"; fi

# --- a module that never answers: exit 3 in time, never a hang -----------------------------
start=$SECONDS
expect_rc "silent module: get exits 3" 3 cli e2esilent --timeout-ms 500 get PatchPartLevel 1
[[ "$LAST_ERR" == *"does not answer"* ]] && pass "silent module: says it does not answer" || fail "silent module message: [$LAST_ERR]"
expect_rc "silent module: probe exits 3" 3 cli e2esilent probe
expect_rc "silent module: set of a master field exits 3" 3 cli e2esilent --timeout-ms 500 set MasterSetupLCD 4
expect_rc "silent module: retries end too" 3 cli e2esilent --timeout-ms 200 --retries 2 names rhythms
expect_rc "wrong device ID: exit 3" 3 cli e2eclean --device-id 5 --timeout-ms 300 get PatchPartLevel 1
elapsed=$((SECONDS - start))
# A generous bound: the limits above add up to about 6 s; a hang would hit 60 s.
if [ "$elapsed" -lt 45 ]; then pass "no-answer cases end within their limits (${elapsed} s)"; else fail "no-answer cases took ${elapsed} s"; fi

stop_sim e2eclean
finish
