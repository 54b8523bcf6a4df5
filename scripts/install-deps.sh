#!/usr/bin/env bash
# Installs what fanecho needs on Debian 12, as root, and nothing that is
# already there.
#   install-deps.sh build   compiler and build tools only
#   install-deps.sh all     also everything the test suites use
set -euo pipefail

what=${1:-all}
packages=(cmake ninja-build g++ make)
if [ "$what" = all ]; then
  packages+=(libgtest-dev iproute2 nftables procps util-linux time iputils-ping fping hyperfine gnuplot-nox
             clang libclang-rt-14-dev dnsmasq-base lintian python3)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  # shellcheck source=apt.sh
  source "$(dirname "$0")/apt.sh"
  apt_install "${missing[@]}"
fi

# The Windows build and its test under wine.
if [ "$what" = all ] && [ -x "$(dirname "$0")/install-win32-deps.sh" ]; then
  bash "$(dirname "$0")/install-win32-deps.sh"
fi
