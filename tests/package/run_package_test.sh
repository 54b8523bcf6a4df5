#!/usr/bin/env bash
# The Debian package as a user gets it: packs the build, has lintian check
# it where lintian is installed (no error, no warning), installs it with
# dpkg -i, checks that the program carries the protections Debian builds
# with, probes 127.0.0.1 (as root, and as nobody where only the capability
# the package gives lets it), removes it with dpkg -r and checks that
# nothing is left. Needs root and dpkg; skips (77) elsewhere, and when
# a fanecho package is installed already, which it will not touch.
#   run_package_test.sh --build DIR
set -u

progname=run_package_test.sh
# shellcheck source=../support/testlib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/testlib.sh"

build=
while (($#)); do
  case $1 in
    --build) build=$2; shift 2 ;;
    *) echo "usage: run_package_test.sh --build DIR" >&2; exit 2 ;;
  esac
done
[[ -f $build/CPackConfig.cmake ]] || { echo "run_package_test.sh: no CPack configuration in '$build'" >&2; exit 2; }
build=$(cd "$build" && pwd)

command -v dpkg >/dev/null && command -v dpkg-deb >/dev/null || skip "not a Debian system"
require_netns
[[ $(dpkg-query -W -f '${Status}' fanecho 2>/dev/null) == *" installed" ]] &&
  skip "a fanecho package is installed already"

work=$(mktemp -d "${TMPDIR:-/tmp}/fanecho-package.XXXXXX")
ns=fepkg$$
installed=0
cleanup() {
  ((installed)) && dpkg -r fanecho >/dev/null 2>&1
  world_down "$ns"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

check() {  # check DESCRIPTION COMMAND...
  if "${@:2}"; then result "$1"; else result "$1" "the check failed"; fi
}
# dpkg waits for no one: another apt or dpkg run holds its lock for a while.
dpkg_retry() {
  local tries=0
  until dpkg "$@" >"$work/dpkg.log" 2>&1; do
    grep -q "lock" "$work/dpkg.log" && ((++tries < 60)) || { cat "$work/dpkg.log"; return 1; }
    sleep 5
  done
}

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; echo "FAIL  cpack"; exit 1; }
deb=$(ls "$work"/fanecho_*.deb)
echo "package $(basename "$deb")"

if command -v lintian >/dev/null; then
  # It warns that it runs as root, on standard error only.
  lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>/dev/null
  status=$?
  check "lintian: no error, no warning" test "$status" -eq 0
  ((status == 0)) || cat "$work/lintian.log"
else
  echo "note  lintian is not installed: the package goes unchecked by it"
fi

check "dpkg -i" dpkg_retry -i "$deb" && installed=1
check "files in place" test -x /usr/bin/fanecho -a -f /usr/share/man/man1/fanecho.1.gz \
  -a -f /usr/share/doc/fanecho/README.md -a -f /usr/share/doc/fanecho/copyright \
  -a -f /usr/share/doc/fanecho/changelog.gz -a ! -e /usr/share/doc/fanecho/LICENSE

# Built as dpkg-buildflags asks: stack protector, fortified calls, full
# RELRO (relro and bind now), position independent.
readelf -hldW --dyn-syms /usr/bin/fanecho >"$work/readelf.txt" 2>&1
check "stack protector" grep -qE '\b__stack_chk_fail\b' "$work/readelf.txt"
# As lintian judges it: some call fortified, unless none could be.
fortified() {
  grep -v __stack_chk_fail "$work/readelf.txt" | grep -qE '\b__[a-z_]+_chk\b' ||
    ! grep -qE ' UND (mem(cpy|move|set)|st[rp]n?cpy|strn?cat|v?f?s?n?printf|p?read|recv(from)?|fgets|poll)@' \
      "$work/readelf.txt"
}
check "fortified functions" fortified
check "RELRO" grep -qE '^ +GNU_RELRO ' "$work/readelf.txt"
check "bind now" grep -qE '\((FLAGS|FLAGS_1)\) +(Flags: )?.*\b(BIND_NOW|NOW)\b' "$work/readelf.txt"
check "position independent" grep -qE '^ +Type: +DYN ' "$work/readelf.txt"
check "cap_net_raw given" bash -c 'getcap /usr/bin/fanecho | grep -q cap_net_raw'
check "not setuid" test ! -u /usr/bin/fanecho
output=$(/usr/bin/fanecho /report:all 127.0.0.1; echo "rc=$?")
check "probe 127.0.0.1 as root" test "$output" == $'127.0.0.1 is ok\n\nmachine is ok\nrc=0'

# A namespace whose ping_group_range admits no group: nobody gets no datagram
# socket there, only the raw one the capability allows. A copy of the binary
# (cp drops the capability) shows the difference.
world_up "$ns" && set_icmp_mode "$ns" raw || { echo "FAIL  namespace"; exit 1; }
cp /usr/bin/fanecho "$work/plain" && chmod 755 "$work" "$work/plain"
as_nobody() { ip netns exec "$ns" setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
output=$(as_nobody /usr/bin/fanecho /report:all 127.0.0.1)
check "probe as nobody through cap_net_raw" test "$output" == $'127.0.0.1 is ok\n\nmachine is ok'
as_nobody "$work/plain" 127.0.0.1 >/dev/null
check "without the capability nobody gets status 3" test $? -eq 3

check "dpkg -r" dpkg_retry -r fanecho && installed=0
check "nothing left behind" bash -c \
  '! test -e /usr/bin/fanecho -o -e /usr/share/man/man1/fanecho.1 -o -e /usr/share/doc/fanecho &&
   [[ -z $(dpkg-query -W -f "\${Status}" fanecho 2>/dev/null | grep -v not-installed) ]]'

finish
