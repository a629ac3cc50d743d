#!/usr/bin/env bash
# quorvane-cli library compare: two working-area sounds (they need no audition)
# that differ in the chorus type give one row, --all gives every parameter with
# only that row marked, and a sound without a reading, sounds of different
# kinds and bad arguments are refused with exit 2 and one line.
set -u
CLI=${1:?usage: cli_compare.sh path/to/quorvane-cli}
. "$(dirname "$0")/lib.sh"

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
lib() { timeout 60 "$CLI" --library "$dir/library.sqlite" library "$@"; }

# The factory working area, and the same with chorus type 3 (Flanger) written
# over it: DT1 to 10 04 18, device 17.
timeout 60 "$CLI" --virtual backup "$dir/a.syx" >/dev/null || fail "backup"
{ cat "$dir/a.syx"; printf '\xF0\x41\x10\x2B\x12\x10\x04\x18\x03\x51\xF7'; } >"$dir/b.syx"
lib import "$dir/a.syx" "$dir/b.syx" >/dev/null || fail "import"

first() { lib list --type "$1" | head -n 1 | cut -f1; }
plain="" flanger=""
for id in $(lib list --type working | cut -f1); do
  if lib show "$id" | grep -q "^source.*b\.syx"; then flanger=$id; else plain=$id; fi
done
[ -n "$plain" ] && [ -n "$flanger" ] || fail "two working-area sounds imported ($plain, $flanger)"

out=$(lib compare "$plain" "$flanger")
expect_rc "compare exits 0" 0 lib compare "$plain" "$flanger"
chorus=$(lib compare "$plain" "$flanger" --all | awk -F'\t' '$1 == "Common" && $2 == "Chorus Type" {print $3}')
expect_eq "only the chorus type differs" "$(printf 'Common\tChorus Type\t%s\tFlanger\t*' "$chorus")" "$out"
[ "$chorus" != "Flanger" ] && pass "the factory chorus type is another one ($chorus)" || fail "factory chorus is Flanger"

all=$(lib compare "$flanger" "$plain" --all)
expect_eq "--all marks one row" 1 "$(printf '%s\n' "$all" | grep -c $'\t\\*$')"
expect_eq "--all: every row has five fields" 0 "$(printf '%s\n' "$all" | awk -F'\t' 'NF != 5' | wc -l)"
expect_eq "--all starts with the name" "$(printf 'Common\tName')" "$(printf '%s\n' "$all" | head -n 1 | cut -f1,2)"
for section in "Rhythm part" "Part 6" "Timbre of part 6" "Rhythm setup"; do
  printf '%s\n' "$all" | grep -q "^$section"$'\t' && pass "--all has $section" || fail "--all lacks $section"
done

bad() {  # bad NAME EXPECTED_TEXT ARGS...
  local name=$1 text=$2
  shift 2
  expect_rc "$name exits 2" 2 lib "$@"
  if [[ "$LAST_ERR" == *"$text"* && $(printf '%s\n' "$LAST_ERR" | grep -c .) -eq 1 ]]; then pass "$name says so in one line"
  else fail "$name: message [$LAST_ERR] lacks [$text] or is not one line"; fi
}
patch=$(first patch)
bad "a patch never auditioned" "once so the module can tell its parameters; the library keeps what it reads" \
  compare "$plain" "$patch"
bad "a patch and a timbre" "compare two patches, two timbres or two rhythm setups" compare "$patch" "$(first timbre)"
bad "one id" "compare takes A B [--all]" compare "$plain"
bad "an id that is no number" "'x' is not an item id" compare "$plain" x
bad "an unknown option" "unknown option '--some'" compare "$plain" "$flanger" --some
bad "an unknown item" "999999" compare "$plain" 999999
finish
