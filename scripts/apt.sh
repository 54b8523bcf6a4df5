# Sourced by the install scripts: apt-get made patient with mirrors.
# A mirror in the middle of a sync serves index files of the wrong size for a
# while, and apt-get update then fails the whole run, though the lists it
# already has usually name every package we want. So: try the update a few
# times, go on with the lists at hand if it still fails, and let the install
# itself (tried again after a fresh update) be what decides.

apt_update() {
  local try
  for try in 1 2 3; do
    apt-get update -q && return 0
    echo "apt-get update failed (try $try of 3)" >&2
    ((try == 3)) || sleep $((try * 10))
  done
  echo "apt-get update kept failing: going on with the package lists at hand" >&2
}

# apt_install PACKAGE...: installs them, updating the lists first.
apt_install() {
  export DEBIAN_FRONTEND=noninteractive
  apt_update
  apt-get install -y -q --no-install-recommends "$@" && return 0
  echo "apt-get install failed: trying once more after a new update" >&2
  apt_update
  apt-get install -y -q --no-install-recommends "$@"
}
