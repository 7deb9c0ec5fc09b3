#!/bin/sh
# Runs a test in a network of its own: the programs bind fixed UDP ports, so end-to-end
# tests run side by side only when each has its own loopback. Root gets a plain network
# namespace; anyone else one inside a user namespace.
if [ "$(id -u)" -eq 0 ]; then
    exec unshare -n sh -c 'ip link set lo up && exec "$@"' sh "$@"
fi
exec unshare -rn sh -c 'ip link set lo up && exec "$@"' sh "$@"
