#!/usr/bin/env bash
# Builds the .deb from a configured build folder, installs it with dpkg (apt-get
# fetches missing dependencies), checks what it installed: the three programs
# answer --version, the editor starts on the built-in virtual module and ends on
# SIGTERM, the desktop entry, icons and metainfo are in place and valid. Then
# removes the package again. Needs root (or sudo) for dpkg.
#
#   bash scripts/package-test.sh [BUILD_DIR]      (default: build)
set -u
cd "$(dirname "$0")/.."
BUILD=${1:-build}
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
PASSED=0
FAILED=0
pass() { PASSED=$((PASSED + 1)); echo "ok   - $1"; }
fail() { FAILED=$((FAILED + 1)); echo "FAIL - $1" >&2; }
check() {  # check NAME COMMAND...
  local name=$1
  shift
  if "$@"; then pass "$name"; else fail "$name"; fi
}

[ -f "$BUILD/CMakeCache.txt" ] || { echo "no configured build in $BUILD (run scripts/build.sh first)" >&2; exit 1; }
cmake --build "$BUILD" --target quorvane quorvane-cli quorvane-u220sim >/dev/null || { echo "build failed" >&2; exit 1; }

rm -f "$BUILD"/quorvane_*.deb
(cd "$BUILD" && cpack -G DEB >/dev/null) || { echo "cpack failed" >&2; exit 1; }
DEB=$(ls "$BUILD"/quorvane_*.deb 2>/dev/null | head -1)
[ -n "$DEB" ] && pass "cpack made $(basename "$DEB")" || { fail "cpack made no .deb"; exit 1; }
version=$(dpkg-deb -f "$DEB" Version)
check "the package's version is the project's" \
  test "$version" = "$(sed -n 's/^project(Quorvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
check "library dependencies are listed" bash -c "dpkg-deb -f '$DEB' Depends | grep -q libqt6widgets6"

was_installed=0
dpkg-query -W -f='${Status}' quorvane 2>/dev/null | grep -q "install ok installed" && was_installed=1
export DEBIAN_FRONTEND=noninteractive
if $SUDO dpkg -i "$DEB" >/dev/null 2>&1 || $SUDO apt-get install -f -y -q >/dev/null 2>&1; then
  pass "dpkg -i installs the package"
else
  fail "the package does not install"
  echo "$PASSED passed, $FAILED failed"
  exit 1
fi

# The installed programs, run from the system's bin folder, not from the build.
check "quorvane --version (no display)" \
  bash -c "[ \"\$(env -u DISPLAY -u QT_QPA_PLATFORM /usr/bin/quorvane --version)\" = 'quorvane $version' ]"
check "quorvane --help (no display)" bash -c "env -u DISPLAY -u QT_QPA_PLATFORM /usr/bin/quorvane --help | grep -q -- --virtual"
check "quorvane-cli --version" bash -c "[ \"\$(/usr/bin/quorvane-cli --version)\" = 'quorvane-cli $version' ]"
check "quorvane-u220sim --version" bash -c "[ \"\$(/usr/bin/quorvane-u220sim --version)\" = 'quorvane-u220sim $version' ]"
check "quorvane-cli talks to the virtual module" bash -c "[ \"\$(/usr/bin/quorvane-cli get MasterSetupMTune)\" = 440 ]"

# The editor starts (offscreen, on the built-in virtual module) and ends cleanly.
run=$(mktemp -d)
chmod 700 "$run"
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$run" /usr/bin/quorvane --virtual >"$run/log" 2>&1 &
pid=$!
sleep 3
if kill -0 "$pid" 2>/dev/null; then
  pass "the installed editor starts"
  kill -TERM "$pid"
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then fail "the installed editor ends on SIGTERM"; kill -KILL "$pid"; fi
  wait "$pid"
  rc=$?
  [ "$rc" -eq 0 ] && pass "the installed editor ends on SIGTERM with exit 0" || fail "exit $rc after SIGTERM"
else
  wait "$pid"
  fail "the installed editor ended at once: $(tail -3 "$run/log")"
fi
rm -rf "$run"

desktop=/usr/share/applications/org.quorvane.Quorvane.desktop
metainfo=/usr/share/metainfo/org.quorvane.Quorvane.metainfo.xml
check "the desktop entry is installed" test -f "$desktop"
check "the desktop entry starts the installed editor" bash -c "grep -qx 'Exec=quorvane' '$desktop' && command -v quorvane >/dev/null"
for size in 16 22 24 32 48 64 128 256; do
  f=/usr/share/icons/hicolor/${size}x${size}/apps/quorvane.png
  check "icon ${size}x${size} is a ${size}x${size} PNG" \
    bash -c "[ \"\$(od -An -tx1 -j16 -N8 '$f' | tr -d ' \n')\" = \"\$(printf '%08x%08x' $size $size)\" ]"
done
check "the scalable icon is installed" test -f /usr/share/icons/hicolor/scalable/apps/quorvane.svg
check "the metainfo is installed" test -f "$metainfo"
check "the README's screenshots are installed" test -f /usr/share/doc/quorvane/screenshots/main-window.png
if command -v desktop-file-validate >/dev/null; then
  check "desktop-file-validate accepts the entry" desktop-file-validate "$desktop"
else
  echo "skip - desktop-file-validate is not installed (Debian desktop-file-utils)"
fi
if command -v appstreamcli >/dev/null; then
  check "appstreamcli accepts the metainfo" appstreamcli validate --no-net "$metainfo"
else
  echo "skip - appstreamcli is not installed (Debian appstream)"
fi

if [ "$was_installed" -eq 1 ]; then
  echo "note - quorvane was installed before this test: the new package is left installed"
else
  $SUDO dpkg -r quorvane >/dev/null 2>&1
  check "the package is removed again" bash -c "! dpkg-query -W -f='\${Status}' quorvane 2>/dev/null | grep -q 'install ok installed'"
  check "no program is left in /usr/bin" bash -c "! ls /usr/bin/quorvane* 2>/dev/null | grep -q ."
fi

echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
