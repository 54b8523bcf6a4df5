#!/usr/bin/env bash
# Installs what the Windows build and its test under wine need on Debian 12,
# as root, and nothing that is already there: the mingw-w64 cross compiler
# for i686 with its headers and import libraries, and wine with its 32-bit
# half (fanecho.exe is a 32-bit program, so wine64 is not needed). Fresh
# machine, in full:
#
#   dpkg --add-architecture i386
#   apt-get update
#   apt-get install -y --no-install-recommends g++-mingw-w64-i686-posix \
#     mingw-w64-i686-dev wine wine32:i386
#
# cmake, ninja-build and iproute2 come from install-deps.sh.
set -euo pipefail

packages=(g++-mingw-w64-i686-posix mingw-w64-i686-dev wine wine32:i386)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -q
# wine on its own would pull in wine64; naming wine32:i386 in the same call
# satisfies it with the 32-bit half instead.
apt-get install -y -q --no-install-recommends "${missing[@]}"
