#!/usr/bin/env bash
# The editor's command line without any display: --help and --version answer and
# exit 0, a bad command line exits 2 with one line on stderr, and none of them
# opens a window (no DISPLAY, no QT_QPA_PLATFORM: a window would fail to start).
set -u
APP=${1:?usage: app_cmdline.sh path/to/quorvane}
. "$(dirname "$0")/lib.sh"

nodisplay() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 30 "$APP" "$@"; }
version=$(sed -n 's/^project(Quorvane VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")

# answers ARGS...: exit 0, something on stdout, nothing on stderr.
answers() {
  local name=$1 want=$2 out err rc
  shift 2
  out=$(nodisplay "$@" 2>"$WORKERR")
  rc=$?
  err=$(cat "$WORKERR")
  if [ "$rc" -ne 0 ]; then fail "$name: exit $rc (stderr: $err)"
  elif [[ "$out" != *"$want"* ]]; then fail "$name: stdout [$out] lacks [$want]"
  elif [ -n "$err" ]; then fail "$name: wrote on stderr: [$err]"
  else pass "$name"; fi
}
WORKERR=$(mktemp)
trap 'rm -f "$WORKERR"' EXIT

answers "--version without a display" "quorvane $version" --version
answers "-v without a display" "quorvane $version" -v
answers "--help without a display" "--in <PORT>" --help
answers "--help lists --virtual" "--virtual" --help
answers "--help lists --device-id" "--device-id <N>" -h
answers "Qt's own options are passed over" "quorvane $version" -platform offscreen --version
answers "--help after a connection" "Usage:" --virtual --help

while IFS='|' read -r name text args; do
  [ -z "$name" ] && continue
  eval "argv=($args)"
  expect_rc "$name exits 2" 2 nodisplay "${argv[@]}"
  lines=$(printf '%s\n' "$LAST_ERR" | grep -c .)
  if [[ "$LAST_ERR" == *"$text"* && "$lines" -eq 1 ]]; then pass "$name says why in one line"
  else fail "$name: message [$LAST_ERR] lacks [$text] or is not one line"; fi
done <<'ROWS'
unknown option|Unknown option 'bogus'|--bogus
stray argument|unexpected argument 'file.syx'|file.syx
only --in|give both --in and --out (only --in was given)|--in 1
only --out|give both --in and --out (only --out was given)|--out 1
--virtual with a port|cannot be combined|--virtual --in 0 --out 0
device ID 0|--device-id takes a whole decimal number 1..32, not '0'|--device-id 0
device ID 33|not '33'|--virtual --device-id 33
device ID in hex|not '0x11'|--device-id 0x11
device ID with a blank|not ' 17'|--device-id ' 17'
--in without its value|Missing value after '--in'|--out 1 --in
ROWS

finish
