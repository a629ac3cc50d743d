#!/usr/bin/env bash
# quorvane-cli against the built-in virtual module: bad input is refused with
# exit 2 and one line, and the output formats hold. Needs no MIDI system.
set -u
CLI=${1:?usage: cli_virtual.sh path/to/quorvane-cli}
. "$(dirname "$0")/lib.sh"

cli() { timeout 60 "$CLI" --virtual "$@"; }

# --- bad input: exit 2 and a line that names the problem ---------------------
bad() {  # bad NAME EXPECTED_TEXT ARGS...
  local name=$1 text=$2
  shift 2
  expect_rc "$name exits 2" 2 timeout 60 "$CLI" "$@"
  local lines
  lines=$(printf '%s\n' "$LAST_ERR" | grep -c .)
  if [[ "$LAST_ERR" == *"$text"* && "$lines" -eq 1 ]]; then pass "$name says so in one line"
  else fail "$name: message [$LAST_ERR] lacks [$text] or is not one line"; fi
}
bad "unknown property" "unknown property 'PatchPartPann'" --virtual get PatchPartPann 1
bad "missing index" "needs a part number" --virtual get PatchPartPan
bad "part number 0" "outside 1..6" --virtual get PatchPartLevel 0
bad "instrument 64" "outside 0..63" --virtual get RhythmSetupInstPan 64
bad "index on a property without one" "too many arguments" --virtual get PatchCommonChorusType 1
bad "value past the list" "outside 0..15" --virtual set PatchPartPan 2 16
bad "negative value" "outside 0..4" --virtual set PatchCommonChorusType -1
bad "value that is no number" "not a number (0..127" --virtual set PatchPartLevel 1 loud
bad "master value past the list" "outside 0..15" --virtual set MasterSetupLCD 16
bad "tune out of range" "427.4..452.9" --virtual set MasterSetupMTune 453
bad "name with a character the module lacks" "cannot be stored" --virtual set PatchCommonPatchName "Café"
bad "name in full-width kana" "cannot be stored" --virtual set TimbreTimbreName 1 "ピアノ"
bad "memory names are read only" "read only" --virtual set MemoryPatchName 1 Foo
bad "timbre memory 129" "outside 1..128" --virtual get MemoryTimbreName 129
bad "patch 0" "outside 1..64" --virtual patch 0
bad "names of what" "patches, timbres, rhythms" --virtual names voices
bad "device ID 0" "--device-id" --device-id 0 probe
bad "only one port given" "give both --in and --out" --in 1 probe
bad "--virtual with a port" "cannot be combined" --virtual --out 0 --in 0 probe
bad "no such port" "no output port matches" --in nosuchport --out nosuchport probe
bad "unknown command" "unknown command" --virtual frobnicate

# --- what a good command prints -------------------------------------------------
expect_eq "probe answers" "responding" "$(cli probe)"
expect_eq "master tune in hertz" "440" "$(cli get MasterSetupMTune)"
expect_eq "a name keeps its 12 characters" 12 "$(cli get PatchCommonPatchName | tr -d '\n' | wc -m)"
expect_eq "a half-width kana name is taken" 0 "$(cli set TimbreTimbreName 3 'ｼﾝｾ ﾍﾞｰｽ' >/dev/null 2>&1; echo $?)"
out=$(cli names patches)
expect_eq "64 patch names" 64 "$(printf '%s\n' "$out" | wc -l)"
expect_eq "name lines are N<TAB>name" 64 "$(printf '%s\n' "$out" | grep -cP '^[0-9]+\t.{12}$')"
expect_eq "128 timbre names" 128 "$(cli names timbres | wc -l)"
expect_eq "4 rhythm setup names" 4 "$(cli names rhythms | wc -l)"
expect_eq "memory name by number" "$(printf '%s\n' "$out" | sed -n 5p | cut -f2)" "$(cli get MemoryPatchName 5)"
expect_rc "patch change" 0 cli patch 64

dump1=$(cli dump)
dump2=$(cli dump)
# 9 master fields, 1+17 patch common, 7 rhythm part, 6x13 part, 6x(1+26) timbre,
# 1+2 rhythm common, 64x20 instruments.
expect_eq "dump lists every property" 1557 "$(printf '%s\n' "$dump1" | wc -l)"
expect_eq "dump is stable" "$dump1" "$dump2"
expect_eq "dump line format" "PatchPartPan[2] = $(cli get PatchPartPan 2)" "$(printf '%s\n' "$dump1" | grep '^PatchPartPan\[2\] = ')"
expect_eq "dump of an instrument" "RhythmSetupInstMuteInst[63] = $(cli get RhythmSetupInstMuteInst 63)" \
  "$(printf '%s\n' "$dump1" | grep '^RhythmSetupInstMuteInst\[63\] = ')"

finish
