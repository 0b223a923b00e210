#!/usr/bin/env bash
# Installs what building and testing Marrowgate needs on Debian 12.
# Idempotent: installs only what is missing; safe to run again.
set -euo pipefail

packages=(
  cmake g++ make pkg-config ccache
  libcrypto++-dev        # zlib codec and key exchangers
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev  # libFuzzer targets
  zlib1g-dev             # independent inflate used by the tests
  libdeflate-dev         # the zlib codec's engine
  libisal-dev            # streaming inflater of long items; engine comparison in bench/
  librsync-dev           # delta items: signatures, deltas and their streaming apply
  zip unzip openssl      # reference figures for the benchmarks
  python3                # independent package-format checks (tests/)
  libgtk-3-dev           # the patcher's window
  xvfb xauth             # window tests on a virtual display (xvfb-run)
  imagemagick x11-utils  # screenshots of the window in those tests (import, xwininfo)
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq "${missing[@]}"
fi
