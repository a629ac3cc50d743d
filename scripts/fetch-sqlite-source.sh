#!/usr/bin/env bash
# Makes SQLite's amalgamation (sqlite3.c, sqlite3.h) from Debian's source
# package of sqlite3, for a build where the system's library cannot be used (the
# Windows cross build). The source package comes through apt-get source, so the
# machine's apt sources need deb-src entries (scripts/windows-check.sh writes
# them); its sqlite3.c target runs tclsh (Debian package tcl) and the host's C
# compiler.
#
#   bash scripts/fetch-sqlite-source.sh DEPS_FOLDER
#
# Keeps what an earlier run made. The last line of its output is the folder
# that holds sqlite3.c and sqlite3.h (for -DQUORVANE_SQLITE_SOURCE_DIR).
set -euo pipefail
DEPS=${1:?usage: fetch-sqlite-source.sh DEPS_FOLDER}
mkdir -p "$DEPS"
DEPS=$(cd "$DEPS" && pwd)
say() { printf 'fetch-sqlite-source: %s\n' "$*" >&2; }
die() { say "FAILED: $*"; exit 1; }
command -v tclsh >/dev/null || die "tclsh is missing (Debian package tcl)"

SRC=$(ls -d "$DEPS"/sqlite3-[0-9]*/ 2>/dev/null | sort -V | tail -n 1 || true)
SRC=${SRC%/}
if [ -z "$SRC" ] || [ ! -f "$SRC/tool/mksqlite3c.tcl" ]; then
  # As root apt cannot hand the download to its unprivileged user in a folder
  # of root's; it is root's own folder, so download as root.
  SANDBOX=()
  [ "$(id -u)" -ne 0 ] || SANDBOX=(-o APT::Sandbox::User=root)
  (cd "$DEPS" && apt-get -q "${SANDBOX[@]}" source sqlite3) >"$DEPS/apt-source-sqlite3.log" 2>&1 ||
    { cat "$DEPS/apt-source-sqlite3.log" >&2; die "apt-get source sqlite3"; }
  SRC=$(ls -d "$DEPS"/sqlite3-[0-9]*/ | sort -V | tail -n 1)
  SRC=${SRC%/}
  [ -f "$SRC/tool/mksqlite3c.tcl" ] || die "apt-get source sqlite3 gave no tool/mksqlite3c.tcl"
  say "fetched and unpacked Debian's source package $(basename "$SRC") with apt-get source"
fi

OUT="$DEPS/sqlite-amalgamation"
if [ ! -f "$OUT/sqlite3.c" ] || [ ! -f "$OUT/sqlite3.h" ] || [ "$OUT/sqlite3.c" -ot "$SRC/VERSION" ]; then
  BLD="$DEPS/sqlite3-build"
  rm -rf "$BLD"
  mkdir -p "$BLD"
  # Built with the host's tools: the amalgamation is the same C for every target.
  (cd "$BLD" && "$SRC/configure" --disable-tcl --disable-readline >configure.log 2>&1) ||
    { tail -n 30 "$BLD/configure.log" >&2; die "configure of sqlite3"; }
  (cd "$BLD" && make -j"${JOBS:-2}" sqlite3.c >make.log 2>&1) ||
    { tail -n 30 "$BLD/make.log" >&2; die "make sqlite3.c"; }
  mkdir -p "$OUT"
  cp "$BLD/sqlite3.c" "$BLD/sqlite3.h" "$OUT/"
  say "made sqlite3.c and sqlite3.h ($(cat "$SRC/VERSION")) in $OUT"
fi
echo "$OUT"
