#!/usr/bin/env bash
# Runs a command inside a private network namespace that has only loopback, with
# multicast routed to it, so that nothing ever leaves this machine. Every test,
# benchmark or demo that sends to a multicast group goes through here.
#
#   tests/run_in_netns.sh COMMAND [ARGS...]
#
# Exits 77 (skipped) when a namespace cannot be made here, saying why.
set -u

if [ "${PRESENTER_LINK_IN_NETNS:-}" = 1 ]; then
  exec "$@"
fi

if ! command -v unshare >/dev/null || ! command -v ip >/dev/null; then
  echo "run_in_netns: skipped: unshare or ip is missing (util-linux, iproute2)" >&2
  exit 77
fi

if ! unshare -n true 2>/dev/null; then
  # Not root: a user namespace may still give us a network namespace of our own.
  if unshare -rn true 2>/dev/null; then
    userns=(-r)
  else
    echo "run_in_netns: skipped: cannot create a network namespace here (needs root or user namespaces)" >&2
    exit 77
  fi
else
  userns=()
fi

exec unshare "${userns[@]}" -n -- bash -c '
  set -e
  ip link set lo up
  ip link set lo multicast on
  ip route add 224.0.0.0/4 dev lo
  export PRESENTER_LINK_IN_NETNS=1
  exec "$@"
' run_in_netns "$@"
