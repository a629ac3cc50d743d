#!/usr/bin/env bash
# Installs what is needed, builds and starts Quorvane. The MIDI setup dialog
# offers the built-in virtual U-220 first, so Ok connects to it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
exec ./build/src/app/quorvane "$@"
