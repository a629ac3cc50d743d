#!/usr/bin/env bash
# Numbers and names that quorvane-cli and quorvane-u220sim must refuse (exit 2,
# one line that says why and never repeats control or broken bytes), and the
# forms they must still take. Needs no MIDI system: the CLI talks to the
# built-in virtual module, the simulator is refused before it makes ports.
set -u
CLI=${1:?usage: cli_input.sh path/to/quorvane-cli path/to/quorvane-u220sim}
SIM=${2:?usage: cli_input.sh path/to/quorvane-cli path/to/quorvane-u220sim}
. "$(dirname "$0")/lib.sh"

# refused NAME TEXT PROGRAM ARGS...: exit 2, one line holding TEXT, no control
# byte (ESC, CR, BEL...) and nothing but UTF-8.
refused() {
  local name=$1 text=$2
  shift 2
  expect_rc "$name exits 2" 2 timeout 60 "$@"
  local lines
  lines=$(printf '%s\n' "$LAST_ERR" | grep -c .)
  if [[ "$LAST_ERR" != *"$text"* || "$lines" -ne 1 ]]; then
    fail "$name: message [$LAST_ERR] lacks [$text] or is not one line"
  elif printf '%s' "$LAST_ERR" | LC_ALL=C grep -q $'[\x01-\x09\x0b-\x1f\x7f]'; then
    fail "$name: message holds a control byte: $(printf '%s' "$LAST_ERR" | od -An -tx1 | head -2)"
  elif ! printf '%s' "$LAST_ERR" | iconv -f UTF-8 -t UTF-8 >/dev/null 2>&1; then
    fail "$name: message is not UTF-8: $(printf '%s' "$LAST_ERR" | od -An -tx1 | head -2)"
  else
    pass "$name says why"
  fi
}

# Each row: name | expected text | arguments after --virtual (a bash array literal).
while IFS='|' read -r name text args; do
  [ -z "$name" ] && continue
  eval "argv=($args)"
  refused "$name" "$text" "$CLI" --virtual "${argv[@]}"
done <<'ROWS'
tune in hex|is not a number|set MasterSetupMTune 0x1B8
tune with a leading blank|is not a number|set MasterSetupMTune ' 440'
tune with a trailing blank|is not a number|set MasterSetupMTune '440 '
tune with an exponent|is not a number|set MasterSetupMTune 4.4e2
tune as inf|is not a number|set MasterSetupMTune inf
tune with a comma|is not a number|set MasterSetupMTune 440,5
tune finer than 0.1 Hz|finer than|set MasterSetupMTune 440.55
tune below the range|427.4..452.9|set MasterSetupMTune 427.3
value in hex|value '0x5' is not a number|set PatchPartPan 2 0x5
value with a blank|is not a number|set PatchPartPan 2 ' 5'
value with a fraction|is not a number|set PatchPartPan 2 5.0
index in hex|part number '0x2' is not a number|get PatchPartPan 0x2
patch that is no number|patch number 'abc' is not a number|patch abc
patch in hex|is not a number|patch 0x10
set without its value|set PatchPartPan 2: the value is missing|set PatchPartPan 2
set without part and value|needs a part number (1..6) and a value|set PatchPartPan
set with a bad part only|needs a part number (1..6) and a value|set PatchPartPan 9
master set without value|set MasterSetupLCD: the value is missing|set MasterSetupLCD
device ID in hex|--device-id takes a whole decimal number 1..32, not '0x11'|--device-id 0x11 probe
timeout with a blank|--timeout-ms takes a whole decimal number|--timeout-ms ' 100' probe
overlong A in a name|bytes C1 81 at byte 2 are an overlong form|set TimbreTimbreName 1 $'A\xC1\x81'
surrogate in a name|ED A0 80|set TimbreTimbreName 1 $'\xED\xA0\x80'
cut-short sequence in a name|a sequence cut short|set PatchCommonPatchName $'AB\xE3\x81'
escape sequence in a name|control character U+001B|set PatchCommonPatchName $'A\x1b[2JB'
tab in a name|U+0009|set PatchCommonPatchName $'A\tB'
right-to-left override in a name|U+202E|set PatchCommonPatchName $'A\u202eB'
escape sequence in a property name|unknown property 'X\x1B[2J'|get $'X\x1b[2J'
broken byte in a value|'\xFF' is not a number|set PatchPartPan 2 $'\xff'
ROWS

# Forms that are still taken.
expect_rc "tune with one decimal" 0 timeout 60 "$CLI" --virtual set MasterSetupMTune 440.5
expect_rc "tune with a trailing zero decimal" 0 timeout 60 "$CLI" --virtual set MasterSetupMTune 441.50
expect_rc "value with a plus sign" 0 timeout 60 "$CLI" --virtual set PatchPartPan 2 +5
expect_rc "device ID as a plain number" 0 timeout 60 "$CLI" --device-id=17 --virtual probe
expect_eq "the CLI's version" "quorvane-cli $(sed -n 's/^project(Quorvane VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")" \
  "$("$CLI" --version)"

# The simulator refuses its bad options before it makes any port.
refused "simulator: empty --name" "--name takes a name that is not empty" "$SIM" --name ''
refused "simulator: blank --name" "--name takes a name that is not empty" "$SIM" --name '   '
refused "simulator: empty --in-port" "--in-port takes a name that is not empty" "$SIM" --in-port ''
refused "simulator: control byte in --name" "without control characters" "$SIM" --name $'a\x1bb'
refused "simulator: device ID in hex" "--device-id takes a number 1..32, not '0x11'" "$SIM" --device-id 0x11
refused "simulator: gap with an exponent" "--min-gap-ms" "$SIM" --min-gap-ms 2e1
expect_eq "the simulator's version" "$("$CLI" --version | sed 's/quorvane-cli/quorvane-u220sim/')" "$("$SIM" --version)"

finish
