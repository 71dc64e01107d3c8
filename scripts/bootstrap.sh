#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and nothing else.
# Idempotent: packages already present are left alone and apt is not touched.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  libgtest-dev
  gcc-arm-none-eabi libnewlib-arm-none-eabi libstdc++-arm-none-eabi-newlib
  dosfstools mtools lrzsz python3
  qemu-user
  python3-serial
  python3-pandas python3-numpy python3-matplotlib python3-netcdf4 python3-pytest
  ccache
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "bootstrap: installing ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
