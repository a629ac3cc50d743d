#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the model and emulator
# tests, the window tests (offscreen), the end-to-end tests on a JACK server of
# their own, a short fuzzing run of the inbound handler, and the .deb package
# installed, started and removed again.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
if [ -f scripts/fuzz.sh ]; then
  bash scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
fi
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j2 --timeout 600
# The .deb: built, installed with dpkg, started, removed.
bash scripts/package-test.sh build
