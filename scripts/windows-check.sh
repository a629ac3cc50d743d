#!/usr/bin/env bash
# Proves that everything below the windows builds and works on Windows: cross-
# builds src/midi, src/device, src/emulator, src/ports (with RtMidi's WinMM back end),
# src/library and quorvane-cli for 64-bit Windows with Debian's mingw-w64 (g++,
# POSIX threads), then runs their GoogleTest programs and a ports/back-up/
# restore/names round trip of quorvane-cli on the built-in virtual module under
# wine.
#
# Installs what it needs with apt-get (as root or through sudo): the compiler,
# wine64, dpkg-dev (for apt-get source) and GoogleTest's source. Debian has no
# Windows build of RtMidi: its source package comes through apt-get source, with
# deb-src entries copied from the machine's own Debian sources into a file of
# their own. Safe to run again: what is there is kept, and a second run only
# rebuilds what changed. See docs/windows.md.
#
#   bash scripts/windows-check.sh        (build folder: build-windows, or $WINDOWS_BUILD_DIR)
#
# Exits non-zero when anything fails; the last line is "windows: N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD="${WINDOWS_BUILD_DIR:-build-windows}"
mkdir -p "$BUILD"
BUILD=$(cd "$BUILD" && pwd)
JOBS="${JOBS:-2}"
start=$SECONDS
declare -A took

say() { printf 'windows-check: %s\n' "$*"; }
die() { say "FAILED: $*" >&2; exit 1; }
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
APT=(apt-get -q -o DPkg::Lock::Timeout=600)
[ -z "$SUDO" ] || APT=(sudo "${APT[@]}")

# --- 1. Debian packages and the deb-src entries -------------------------------
PKGS=(g++-mingw-w64-x86-64-posix wine64 dpkg-dev googletest cmake ninja-build tcl)
DEB_SRC_FILE=/etc/apt/sources.list.d/quorvane-deb-src.sources
DEB_SRC_LIST=/etc/apt/sources.list.d/quorvane-deb-src.list

# Every enabled "Types: deb" stanza of a deb822 file, as "Types: deb-src".
deb822_to_src() {
  awk '
    function flush(   i) {
      if (n && types ~ / deb / && types !~ /deb-src/ && !off) {
        for (i = 1; i <= n; i++) print (i == at ? "Types: deb-src" : line[i])
        print ""
      }
      n = 0; types = ""; off = 0; at = 0
    }
    /^[ \t]*$/ { flush(); next }
    { line[++n] = $0 }
    /^Types:/ { types = $0; sub(/^Types:[ \t]*/, "", types); types = " " types " "; at = n }
    /^Enabled:[ \t]*[Nn]o/ { off = 1 }
    END { flush() }' "$1"
}

have_deb_src() {
  grep -qsE '^[[:space:]]*deb-src[[:space:]]|^Types:.*deb-src' \
    /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources
}

t=$SECONDS
need_update=0
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ "${#missing[@]}" -eq 0 ] || need_update=1

if have_deb_src; then
  say "deb-src entries: already configured"
elif [ -f /etc/apt/sources.list.d/debian.sources ]; then
  deb822_to_src /etc/apt/sources.list.d/debian.sources | $SUDO tee "$DEB_SRC_FILE" >/dev/null
  [ -s "$DEB_SRC_FILE" ] || die "no enabled 'Types: deb' entry in /etc/apt/sources.list.d/debian.sources"
  say "deb-src entries: wrote $DEB_SRC_FILE from /etc/apt/sources.list.d/debian.sources"
  need_update=1
elif grep -qsE '^[[:space:]]*deb[[:space:]]' /etc/apt/sources.list; then
  sed -n 's/^[[:space:]]*deb[[:space:]]\+/deb-src /p' /etc/apt/sources.list | $SUDO tee "$DEB_SRC_LIST" >/dev/null
  say "deb-src entries: wrote $DEB_SRC_LIST from /etc/apt/sources.list"
  need_update=1
else
  die "found no Debian apt sources to derive deb-src entries from"
fi

RTMIDI_DIR=$(ls -d "$BUILD"/deps/rtmidi-*/ 2>/dev/null | sort -V | tail -n 1 || true)
RTMIDI_DIR=${RTMIDI_DIR%/}
if [ -z "$RTMIDI_DIR" ] || [ ! -f "$RTMIDI_DIR/RtMidi.cpp" ]; then
  RTMIDI_DIR=""
  apt-cache showsrc rtmidi >/dev/null 2>&1 || need_update=1
fi

if [ "$need_update" -eq 1 ]; then
  "${APT[@]}" update >"$BUILD/apt.log" 2>&1 || { cat "$BUILD/apt.log" >&2; die "apt-get update"; }
fi
if [ "${#missing[@]}" -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive "${APT[@]}" install -y --no-install-recommends "${missing[@]}" >>"$BUILD/apt.log" 2>&1 ||
    { tail -n 30 "$BUILD/apt.log" >&2; die "apt-get install ${missing[*]}"; }
  say "installed: ${missing[*]}"
else
  say "packages: all there (${PKGS[*]})"
fi
took[packages]=$((SECONDS - t))

# --- 2. RtMidi's source from Debian's source package --------------------------
t=$SECONDS
if [ -z "$RTMIDI_DIR" ]; then
  mkdir -p "$BUILD/deps"
  # As root apt cannot hand the download to its unprivileged user in a folder
  # of root's; it is root's own folder, so download as root.
  SANDBOX=()
  [ "$(id -u)" -ne 0 ] || SANDBOX=(-o APT::Sandbox::User=root)
  (cd "$BUILD/deps" && apt-get -q "${SANDBOX[@]}" source rtmidi) >"$BUILD/deps/apt-source.log" 2>&1 ||
    { cat "$BUILD/deps/apt-source.log" >&2; die "apt-get source rtmidi"; }
  RTMIDI_DIR=$(ls -d "$BUILD"/deps/rtmidi-*/ | sort -V | tail -n 1)
  RTMIDI_DIR=${RTMIDI_DIR%/}
  [ -f "$RTMIDI_DIR/RtMidi.cpp" ] || die "apt-get source rtmidi gave no RtMidi.cpp"
  dsc=$(basename "$(ls "$BUILD"/deps/rtmidi_*.dsc | sort -V | tail -n 1)" .dsc)
  say "RtMidi: fetched and unpacked Debian's source package ${dsc/_/ } with apt-get source"
else
  say "RtMidi: source already in ${RTMIDI_DIR#"$ROOT"/}"
fi
took[rtmidi]=$((SECONDS - t))
# SQLite for the sound library: sqlite3.c made from Debian's source package.
SQLITE_DIR=$(JOBS="$JOBS" bash scripts/fetch-sqlite-source.sh "$BUILD/deps" | tail -n 1) || die "SQLite's source"
say "SQLite: amalgamation in ${SQLITE_DIR#"$ROOT"/}"

# --- 3. The cross build ----------------------------------------------------------
t=$SECONDS
TARGETS=(test_device test_emulator test_midi test_ports test_library quorvane-cli)
cmake -S . -B "$BUILD" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DQUORVANE_BUILD_UI=OFF -DQUORVANE_BUILD_TESTS=ON \
  -DQUORVANE_RTMIDI_SOURCE_DIR="$RTMIDI_DIR" -DQUORVANE_GTEST_SOURCE_DIR=/usr/src/googletest \
  -DQUORVANE_SQLITE_SOURCE_DIR="$SQLITE_DIR" \
  >"$BUILD/configure.log" 2>&1 || { cat "$BUILD/configure.log" >&2; die "cmake configure"; }
ninja -C "$BUILD" -j"$JOBS" "${TARGETS[@]}" >"$BUILD/build.log" 2>&1 ||
  { grep -E -A5 'error|FAILED' "$BUILD/build.log" | head -n 60 >&2; die "build (whole log: $BUILD/build.log)"; }
steps=$(grep -cE '^\[[0-9]+/[0-9]+\] (Building|Linking)' "$BUILD/build.log" || true)
say "built ${TARGETS[*]} for Windows (x86_64-w64-mingw32-g++-posix, RtMidi with WinMM; $steps files compiled or linked)"
took[build]=$((SECONDS - t))

# --- 4. wine: a private prefix, no windows, no messages ---------------------------
t=$SECONDS
WINE=$(command -v wine64 || true)
[ -n "$WINE" ] || WINE=/usr/lib/wine/wine64
WINESERVER=$(command -v wineserver64 || command -v wineserver || true)
[ -n "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver64
{ [ -x "$WINE" ] && [ -x "$WINESERVER" ]; } || die "wine64 is not installed where expected ($WINE, $WINESERVER)"
export WINEPREFIX="$BUILD/wineprefix" WINEARCH=win64 WINEDEBUG=-all
# No .NET or HTML engine to offer, no display to show anything on, and no sound
# drivers: WinMM then lists no ports, the tests meet no MIDI system (as on a CI
# machine), and the host's ALSA is left alone.
export WINEDLLOVERRIDES="mscoree,mshtml,winealsa.drv,winepulse.drv=d"
unset DISPLAY WAYLAND_DISPLAY
# One server for the whole check, stopped (it alone: the prefix's own) at the end.
stop_wine() { "$WINESERVER" -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$WINE" wineboot --init >"$BUILD/wineboot.log" 2>&1 || { cat "$BUILD/wineboot.log" >&2; die "wineboot"; }
  "$WINESERVER" -w
  say "wine: made the prefix ${WINEPREFIX#"$ROOT"/}"
else
  say "wine: prefix ${WINEPREFIX#"$ROOT"/} already there"
fi
"$WINESERVER" -p
took[wine]=$((SECONDS - t))

# --- 5. The unit tests, the four programs side by side ----------------------------
t=$SECONDS
LOGS="$BUILD/logs"
mkdir -p "$LOGS"
SUITES=(device emulator midi ports library)
declare -A pid
for s in "${SUITES[@]}"; do
  # The library's auditions and stores wait minutes at a real module's pace:
  # they run natively; here the files, the journal and the library count.
  filter=()
  [ "$s" = library ] && filter=(--gtest_filter=-Audition.*:ModuleStore.*)
  timeout 900 "$WINE" "$BUILD/tests/test_$s.exe" --gtest_brief=1 "${filter[@]}" >"$LOGS/test_$s.log" 2>&1 &
  pid[$s]=$!
done
passed=0
failed=0
skipped=0
line=()
for s in "${SUITES[@]}"; do
  rc=0
  wait "${pid[$s]}" || rc=$?
  log=$(tr -d '\r' <"$LOGS/test_$s.log")
  # GoogleTest's closing lines: "[==========] N tests from M test suites ran.",
  # "[  PASSED  ] N tests.", "[  SKIPPED ] N tests, listed below:".
  ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p' <<<"$log")
  p=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p' <<<"$log")
  k=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\?, listed below:$/\1/p' <<<"$log")
  p=${p:-0}
  k=${k:-0}
  if [ -z "$ran" ]; then
    f=1  # ended (crashed, hung) before its summary
    say "test_$s.exe ended with exit code $rc before its summary:" >&2
    tail -n 20 <<<"$log" >&2
  else
    f=$((ran - p - k))
    if [ "$f" -gt 0 ] || [ "$rc" -ne 0 ]; then
      [ "$f" -gt 0 ] || f=1
      say "test_$s.exe (exit code $rc): $f failed:" >&2
      grep -v '^Running main()' <<<"$log" | head -n 80 >&2 || true
    fi
  fi
  if [ "$p" -eq 0 ] && [ "$f" -eq 0 ]; then
    f=1
    say "test_$s.exe ran no test" >&2
  fi
  skipped=$((skipped + k))
  passed=$((passed + p))
  failed=$((failed + f))
  if [ -z "$ran" ]; then line+=("$s: ended early (exit code $rc)"); else line+=("$s $p/$ran"); fi
done
say "unit tests under wine: ${line[*]} (passed/ran; $skipped skipped; logs in ${LOGS#"$ROOT"/})"
took[tests]=$((SECONDS - t))

# --- 6. quorvane-cli on the virtual module: ports, back up, restore, names ---------
t=$SECONDS
CLI="$BUILD/tools/quorvane-cli/quorvane-cli.exe"
WORK="$BUILD/cli-check"
rm -rf "$WORK"
mkdir -p "$WORK/adir"
cli_ok=0
cli_bad=0
OUT="" ERR="" RC=0
cli() {  # cli ARGS...: runs quorvane-cli --virtual in $WORK; sets OUT, ERR, RC
  RC=0
  (cd "$WORK" && timeout 120 "$WINE" "$CLI" --virtual "$@") >"$WORK/.out" 2>"$WORK/.err" || RC=$?
  OUT=$(tr -d '\r' <"$WORK/.out")
  ERR=$(tr -d '\r' <"$WORK/.err")
}
check() {  # check NAME CONDITION...
  local name=$1
  shift
  if "$@"; then cli_ok=$((cli_ok + 1))
  else
    cli_bad=$((cli_bad + 1))
    say "CLI check failed: $name (exit $RC; out: ${OUT:0:300}; err: ${ERR:0:300})" >&2
  fi
}
is() { [ "$1" == "$2" ]; }
has() { [[ "$1" == *"$2"* ]]; }

cli ports
check "ports lists the virtual module first (RtMidi's WinMM listing ran)" \
  is "$RC:$(head -n 2 <<<"$OUT")" $'0:in\t0\tQuorvane virtual U-220\nout\t0\tQuorvane virtual U-220'
cli backup x.syx
check "backup of the virtual module" is "$RC:$OUT" "0:Backed up master setup, 64 patches, 128 timbres, 4 rhythm setups, working area."
cp "$WORK/x.syx" "$WORK/first.syx" 2>/dev/null || true
cli backup x.syx
replaced_alike() { [ "$RC" -eq 0 ] && cmp -s "$WORK/x.syx" "$WORK/first.syx" && ! compgen -G "$WORK/*.part" >/dev/null; }
check "a second back-up replaces the file with the same bytes, no temporary file left" replaced_alike
cli restore x.syx
check "restore writes the back-up and verifies it" is "$RC:$OUT" "0:Restored master setup, 64 patches, 128 timbres, 4 rhythm setups, working area; all verified."
cli names patches
names=$OUT
check "names patches: 64 lines of number, tab, 12 characters" \
  is "$RC:$(grep -cE $'^[0-9]+\t.{12}$' <<<"$names")" "0:64"
cli --virtual-from x.syx names patches
check "a module started from the back-up has the same names" is "$RC:$OUT" "0:$names"
cli restore adir
check "restore of a folder is refused with the reason" has "$RC:$ERR" "2:quorvane-cli: adir: it is a directory, not a file"
cli backup adir
folder_kept() { [ "$RC" -eq 2 ] && [[ "$ERR" == *"adir is a directory, not a file"* ]] && [ -d "$WORK/adir" ]; }
check "a back-up onto a folder is refused, the folder kept" folder_kept
say "quorvane-cli round trip under wine: $cli_ok passed, $cli_bad failed"
took[cli]=$((SECONDS - t))

passed=$((passed + cli_ok))
failed=$((failed + cli_bad))
say "took $((SECONDS - start)) s (packages ${took[packages]} s, RtMidi source ${took[rtmidi]} s, build ${took[build]} s, wine prefix ${took[wine]} s, unit tests ${took[tests]} s, CLI ${took[cli]} s)"
echo "windows: $passed passed, $failed failed$([ "$skipped" -eq 0 ] || echo ", $skipped skipped")"
[ "$failed" -eq 0 ]
