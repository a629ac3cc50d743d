#!/usr/bin/env bash
# Installs everything Quorvane needs to build, run and test on Debian 12.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
PKGS=(
  build-essential cmake pkg-config ninja-build
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev
  librtmidi-dev libasound2-dev
  jackd2 libjack-jackd2-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev
  clang libclang-rt-14-dev
  fonts-noto-cjk xvfb xauth
  ccache desktop-file-utils appstream
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  # jackd2 asks whether to enable realtime scheduling; answer no.
  echo "jackd2 jackd/tweak_rt_limits boolean false" | $SUDO debconf-set-selections
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
