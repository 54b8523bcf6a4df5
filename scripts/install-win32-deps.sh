#!/usr/bin/env bash
# Installs what the Windows build and its test under wine need on Debian 12,
# as root, and nothing that is already there: the mingw-w64 cross compiler
# for i686 with its headers and import libraries, and wine with its 32-bit
# half for fanecho.exe, the 32-bit program. Where the kernel runs no 32-bit
# programs the wine suite falls back to a 64-bit test build under wine64:
# the x86-64 compiler and wine64 are for that. Fresh machine, in full:
#
#   dpkg --add-architecture i386
#   apt-get update
#   apt-get install -y --no-install-recommends g++-mingw-w64-i686-posix \
#     mingw-w64-i686-dev wine wine32:i386 \
#     g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine64
#
# cmake, ninja-build and iproute2 come from install-deps.sh.
set -euo pipefail

packages=(g++-mingw-w64-i686-posix mingw-w64-i686-dev wine wine32:i386
          g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine64)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
# shellcheck source=apt.sh
source "$(dirname "$0")/apt.sh"
apt_install "${missing[@]}" && exit 0
# The i386 lists are the ones a mirror most often serves half synced. Without
# wine32 the wine suite tests the 64-bit build under wine64 instead.
rest=()
for package in "${missing[@]}"; do
  [[ $package == *:i386 ]] || rest+=("$package")
done
echo "going on without the i386 packages: the wine suite then runs the 64-bit test build" >&2
apt_install "${rest[@]}"
