#!/usr/bin/env bash
# Builds the project and starts the application: bash scripts/start.sh
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset release
cmake --build --preset release --target Tickerly_Mac
exec ./build/release/bin/Tickerly_Mac "$@"
