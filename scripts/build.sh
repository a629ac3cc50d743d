#!/usr/bin/env bash
# Configures and builds Quorvane in ./build (Release with debug info).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${BUILD_DIR:-build}"
GEN=()
command -v ninja >/dev/null && GEN=(-G Ninja)
cmake -S . -B "$BUILD_DIR" "${GEN[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$BUILD_DIR" -j"$(nproc)"
