#!/usr/bin/env bash
# Installs the Debian packages a target needs, and nothing else.
# Usage: scripts/bootstrap.sh [GROUP...]   (default: every group)
# Idempotent: packages already present are left alone and apt is not touched.
set -euo pipefail

# The package groups. A package goes into the group of the first target that
# needs it; make sim installs "sim", make test all three.
sim=(make cmake g++ ccache dosfstools)
test=(libgtest-dev pkg-config mtools lrzsz python3 python3-serial
      python3-pandas python3-numpy python3-matplotlib python3-netcdf4 python3-pytest)
firmware=(gcc-arm-none-eabi libnewlib-arm-none-eabi libstdc++-arm-none-eabi-newlib qemu-user)

groups=("$@")
[ ${#groups[@]} -eq 0 ] && groups=(sim test firmware)

packages=()
for g in "${groups[@]}"; do
  case "$g" in
    sim) packages+=("${sim[@]}") ;;
    test) packages+=("${test[@]}") ;;
    firmware) packages+=("${firmware[@]}") ;;
    *) echo "bootstrap: no package group '$g' (sim, test, firmware)" >&2; exit 2 ;;
  esac
done

if ! command -v dpkg-query >/dev/null; then
  echo "bootstrap: not a Debian system; install the equivalents of: ${packages[*]}" >&2
  exit 1
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

install="apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    cat >&2 <<MSG
bootstrap: these Debian packages are missing: ${missing[*]}
Install them as root, then run this again:
    su -c '$install'
MSG
    exit 1
  fi
  SUDO=(sudo)
fi
echo "bootstrap: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
