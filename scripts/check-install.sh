#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks that the installed program starts from
# there: bash scripts/check-install.sh [build folder, default build/dev]
# Needs the deliverables built (Tickerly_Mac, Tickerly_Widget_Mac and their libraries).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/dev}
work=$(mktemp -d)
pid=""
cleanup() {
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
prefix="$work/prefix"
fail() { echo "check-install: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(cd "$prefix" && ls -d lib* | head -n 1)
program="$prefix/bin/Tickerly_Mac"
plugin="$prefix/$libdir/tickerly/libTickerly_Widget_Mac.so"

host="$prefix/bin/Tickerly_Widget_Host"
for f in "$program" "$plugin" "$host" "$prefix/share/applications/tickerly-widget.desktop" \
         "$prefix/share/applications/tickerly.desktop" \
         "$prefix/share/icons/hicolor/256x256/apps/tickerly.png"; do
    [ -e "$f" ] || fail "not installed: ${f#"$prefix"/}"
done

# Each installed binary looks for the project's libraries relative to itself, and finds every
# one of them inside the prefix, never in the build folder.
readelf -d "$program" | grep -q "R.*PATH.*\[\$ORIGIN/../$libdir\]" || fail "program RPATH: $(readelf -d "$program" | grep PATH)"
readelf -d "$plugin" | grep -q "R.*PATH.*\[\$ORIGIN/..\]" || fail "plug-in RPATH: $(readelf -d "$plugin" | grep PATH)"
for binary in "$program" "$plugin" "$host" "$prefix/$libdir"/libTickerly*.so; do
    deps=$(ldd "$binary")
    if grep -q "not found" <<<"$deps"; then fail "$binary: $(grep 'not found' <<<"$deps")"; fi
    if grep "libTickerly" <<<"$deps" | grep -vq "$prefix/"; then
        fail "$binary uses a library from outside the prefix: $(grep libTickerly <<<"$deps" | grep -v "$prefix/")"
    fi
done

# Starts an installed program under a fresh X server; succeeds once a window titled "Tickerly"
# shows up. xvfb-run -a runs the program even when its server failed to start (a display number
# just given up by another server can still be taken), so a program that found no server is
# started again under a new one.
shows_window() {
    for attempt in 1 2 3; do
        if shows_window_once "$1" 2> "$work/attempt.log"; then return 0; fi
        cat "$work/attempt.log" >&2
        grep -q "could not connect to display" "$work/attempt.log" || return 1
        echo "no X server for $1 (attempt $attempt); starting another" >&2
    done
    return 1
}
shows_window_once() {
    xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
        QT_QPA_PLATFORM=xcb "$1" & pid=$!
        for _ in $(seq 300); do
            if xwininfo -root -tree | grep -q "\"Tickerly\""; then kill $pid; exit 0; fi
            kill -0 $pid 2>/dev/null || { echo "$1 ended early" >&2; exit 1; }
            sleep 0.1
        done
        kill $pid; echo "no window of $1 showed up" >&2; exit 1
    ' check "$1"
}

# It starts from there and shows the sources window. Off the session bus, so that a program
# already running there is not the one that answers.
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"
DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent shows_window "$program" || fail "the installed program did not start"
# The widget host finds the installed plug-in and shows its panel, off the bus as well.
DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent shows_window "$host" || fail "the installed widget host did not start"
echo "check-install: installed into a temporary prefix; the program and the widget host start from there"
