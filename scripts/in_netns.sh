#!/usr/bin/env bash
# Runs a command inside a fresh private network namespace that holds nothing
# but loopback, so whatever it sends by multicast never leaves it.
# Usage: scripts/in_netns.sh COMMAND [ARG...]   (as root)
set -euo pipefail

readonly inside_marker=--inside-private-network-namespace

if (($# == 0)); then
  echo "usage: $0 COMMAND [ARG...]" >&2
  exit 2
fi

if [[ $1 != "$inside_marker" ]]; then
  if [[ $(id -u) -ne 0 ]]; then
    echo "in_netns.sh: must run as root to create a network namespace" >&2
    exit 1
  fi
  outer_namespace=$(readlink /proc/self/ns/net)
  exec unshare --net -- "$BASH" "$0" "$inside_marker" "$outer_namespace" "$@"
fi

outer_namespace=$2
shift 2
if [[ $(readlink /proc/self/ns/net) == "$outer_namespace" ]]; then
  echo "in_netns.sh: refusing to run: still in the caller's network namespace" >&2
  exit 1
fi

ip link set lo up
ip link set lo multicast on

while read -r name; do
  if [[ $name != lo ]]; then
    echo "in_netns.sh: refusing to run: the namespace has interface '$name' besides lo" >&2
    exit 1
  fi
done < <(ip -o link show | awk -F': ' '{ print $2 }')

exec "$@"
