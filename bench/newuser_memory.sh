#!/bin/sh
# A new user's first minute: the application started as a person starts it, on an X server of its
# own (xvfb-run) with its own session bus, over a fresh home (no stored sources, no settings), and
# its resident memory (VmRSS) and peak (VmHWM) read from /proc after 60 seconds. Launch updates
# go out as usual; without a network they fail, as they would for someone offline.
# Usage: bench/newuser_memory.sh [build dir] [seconds]   (build dir: build/release, 60 s)
set -e
build="${1:-build/release}"
seconds="${2:-60}"
program="$(cd "$build/bin" && pwd)/Tickerly_Mac"
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/data" "$home/config" "$home/cache"
export XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache"
unset QT_QPA_PLATFORM
# The reading happens inside the session, while the program still runs; then it is told to end.
dbus-run-session -- xvfb-run -a sh -c '
    "$1" >/dev/null 2>&1 &
    pid=$!
    sleep "$2"
    grep -E "^(VmHWM|VmRSS):" "/proc/$pid/status"
    kill -TERM "$pid"
    wait "$pid" 2>/dev/null || true
' sh "$program" "$seconds"
