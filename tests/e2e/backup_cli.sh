#!/usr/bin/env bash
# Back-up files through quorvane-cli on the built-in virtual module: a back-up
# that restores and verifies, the virtual module started from an edited back-up,
# damaged files refused with the reason and exit 2, copy and swap of patches.
set -u
CLI=$(realpath "${1:?usage: backup_cli.sh path/to/quorvane-cli}")
. "$(dirname "$0")/lib.sh"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1

# dt1 DEVICE A1 A2 A3 DATA...: one data set (hex bytes) with its checksum, on stdout.
dt1() {
  local dev=$1 sum=0 b out
  shift
  out="\\xF0\\x41\\x$dev\\x2B\\x12"
  for b in "$@"; do
    sum=$(( (sum + 16#$b) % 128 ))
    out+="\\x$b"
  done
  out+="\\x$(printf '%02X' $(( (128 - sum) % 128 )))\\xF7"
  printf "$out"
}
# name_nibbles TEXT: a 12-character name as 24 nibbles (low first), hex.
name_nibbles() {
  local text=$1 i c
  for ((i = 0; i < 12; i++)); do
    c=$(printf '%d' "'${text:$i:1}")
    [ -z "${text:$i:1}" ] && c=32
    printf '%02X %02X ' $((c % 16)) $((c / 16))
  done
}

expect_rc "backup of the virtual module" 0 timeout 60 "$CLI" backup module.syx
expect_eq "the back-up says what it holds" "Backed up master setup, 64 patches, 128 timbres, 4 rhythm setups, working area." \
  "$(timeout 60 "$CLI" backup again.syx)"
[ -s module.syx ] && [ ! -e module.syx.part ] && pass "the file is there, no temporary file left" || fail "module.syx missing or .part left"
cmp -s module.syx again.syx && pass "two back-ups of the same module are equal" || fail "back-ups differ"
out=$(timeout 60 "$CLI" restore module.syx 2>"$WORK/err")
expect_eq "restore verifies" "Restored master setup, 64 patches, 128 timbres, 4 rhythm setups, working area; all verified." "$out"
[[ "$(cat "$WORK/err")" == *"module.syx holds master setup, 64 patches"* ]] && pass "restore says what the file holds" || fail "summary: $(cat "$WORK/err")"

# An edited back-up: patch 5 renamed, for another device ID (6); the virtual module
# started from it shows the name, and its own back-up carries it.
# shellcheck disable=SC2046
dt1 05 03 05 00 $(name_nibbles "Backup Test!") > edited.syx
expect_eq "virtual module from a file" "5	Backup Test!" "$(timeout 60 "$CLI" --virtual-from edited.syx names patches | sed -n 5p)"
expect_eq "the rest stays the factory's" "$(timeout 60 "$CLI" names patches | sed -n 4p)" \
  "$(timeout 60 "$CLI" --virtual-from edited.syx names patches | sed -n 4p)"
expect_rc "back-up of the edited module" 0 timeout 60 "$CLI" --virtual-from edited.syx backup edited-full.syx
expect_eq "the edited back-up opens again" "5	Backup Test!" "$(timeout 60 "$CLI" --virtual-from edited-full.syx names patches | sed -n 5p)"
expect_eq "a partial file is described in words" "Restored part of patch 5; all verified." "$(timeout 60 "$CLI" restore edited.syx 2>/dev/null)"

# Damaged files: exit 2 with the reason, for restore and for --virtual-from.
cp module.syx badsum.syx
printf '\x00' | dd of=badsum.syx bs=1 seek=20 conv=notrunc status=none   # a data byte of message 1
head -c 100 module.syx > cut.syx
mkdir adir
dt1 10 04 00 00 01 > outside.syx
printf '\xF0\x43\x10\x4C\x00\x00\x01\x00\xF7' > foreign.syx
for c in "badsum.syx:message 1 (byte 0) is damaged: checksum error" \
         "cut.syx:is cut short: the file ends before its end" \
         "outside.syx:outside the module's memory areas" \
         "foreign.syx:no U-220 data set" \
         "missing.syx:missing.syx: no such file or directory" \
         "adir:adir: it is a directory, not a file"; do
  file=${c%%:*}
  why=${c#*:}
  expect_rc "restore refuses $file" 2 timeout 60 "$CLI" restore "$file"
  [[ "$LAST_ERR" == *"$why"* ]] && pass "$file: says why" || fail "$file: [$LAST_ERR]"
  expect_rc "--virtual-from refuses $file" 2 timeout 60 "$CLI" --virtual-from "$file" probe
done
expect_rc "--virtual-from with ports is refused" 2 "$CLI" --virtual-from module.syx --in 0 --out 0 probe

expect_eq "copy-patch" "Copied patch 3 to patch 7; verified." "$(timeout 60 "$CLI" copy-patch 3 7)"
expect_eq "swap-patch" "Swapped patch 1 with patch 64; verified." "$(timeout 60 "$CLI" swap-patch 1 64)"
expect_rc "copy-patch refuses 65" 2 "$CLI" copy-patch 1 65
expect_rc "swap-patch refuses the same patch" 2 "$CLI" swap-patch 4 4
expect_rc "backup into a folder that does not exist fails" 1 timeout 60 "$CLI" backup no/such/dir/x.syx
[[ "$LAST_ERR" == *"could not be saved"* ]] && pass "says the back-up was not saved" || fail "[$LAST_ERR]"
expect_rc "backup to a device is refused before the module is read" 2 timeout 60 "$CLI" backup /dev/null
[[ "$LAST_ERR" == *"/dev/null is a device, not a regular file"* ]] && pass "says why" || fail "[$LAST_ERR]"
expect_rc "backup with an empty file name is refused" 2 timeout 60 "$CLI" backup ""
expect_rc "--virtual-from with an empty file name is refused" 2 timeout 60 "$CLI" --virtual-from "" probe

# A back-up named .mid is a Standard MIDI File that restores as the .syx does.
expect_rc "backup as a Standard MIDI File" 0 timeout 60 "$CLI" backup module.mid
[ "$(head -c 4 module.mid)" = MThd ] && pass "module.mid is a Standard MIDI File" || fail "module.mid: $(head -c 16 module.mid | od -An -tx1)"
expect_eq "the .mid back-up restores" "Restored master setup, 64 patches, 128 timbres, 4 rhythm setups, working area; all verified." \
  "$(timeout 60 "$CLI" restore module.mid 2>/dev/null)"
finish
