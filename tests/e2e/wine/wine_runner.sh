#!/usr/bin/env bash
# Runs a Windows program under wine, called from inside a test namespace.
#
#   wine_runner.sh PROGRAM.exe ARGUMENTS...
#
# wine sends echo requests from its wineserver's process, not from the
# program's, so that server must live in the caller's namespace or the
# probes would leave from another one. The first call starts a persistent
# server here; any call finding this prefix's server in another namespace
# refuses to run. WINEPREFIX must name a prefix of this test run alone;
# FANECHO_WINE names the wine to run it with (default: wine).
set -euo pipefail

[[ -n ${WINEPREFIX-} && -d $WINEPREFIX ]] || {
  echo "wine_runner.sh: WINEPREFIX must name an existing prefix" >&2
  exit 125
}

# Pids of the wineserver processes started for our prefix. Every call
# reads every process's name: with read, not a cat apiece, which cost about
# 3 s a call on a busy machine.
prefix_servers() {
  local dir pid comm
  for dir in /proc/[0-9]*; do
    pid=${dir#/proc/}
    { read -r comm <"$dir/comm"; } 2>/dev/null || continue
    [[ $comm == wineserver* ]] || continue
    { tr '\0' '\n' <"$dir/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
  return 0
}

servers=$(prefix_servers)
if [[ -z $servers ]]; then
  wineserver -p
  servers=$(prefix_servers)
  [[ -n $servers ]] || { echo "wine_runner.sh: wineserver did not start" >&2; exit 125; }
fi
here_ns=$(readlink /proc/self/ns/net)
for pid in $servers; do
  if [[ $(readlink "/proc/$pid/ns/net" 2>/dev/null) != "$here_ns" ]]; then
    echo "wine_runner.sh: the wineserver of $WINEPREFIX (pid $pid) runs in another network namespace" >&2
    exit 125
  fi
done
exec "${FANECHO_WINE:-wine}" "$@"
