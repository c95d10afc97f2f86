#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, if any is
# missing. Runs apt-get as root (directly, or through sudo when available).
set -euo pipefail

packages=(
  build-essential cmake ninja-build binutils pkg-config dpkg-dev procps
  libnewmat10-dev libpugixml-dev libboost-dev
  libopenblas-serial-dev
  qt6-base-dev
  libcli11-dev nlohmann-json3-dev libmatio-dev libssl-dev zlib1g-dev libhdf5-dev
  libedf-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev valgrind
  pybind11-dev python3-dev python3-numpy python3-sklearn python3-mne
  python3-pytest python3-pandas python3-matplotlib python3-scipy
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
