#!/usr/bin/env bash
# Builds the project and runs every test: bash scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset dev ${TICKERLY_CMAKE_ARGS:-}
cmake --build --preset dev
# Tests that cross processes need a session bus; widgets draw on the offscreen platform.
export QT_QPA_PLATFORM=offscreen
dbus-run-session -- ctest --preset dev "$@"
