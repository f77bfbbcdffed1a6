#!/usr/bin/env bash
# Fails, naming the files, when a tracked C++ file is not as the project's .clang-format writes it.
# Run from anywhere in the clone; `clang-format -i` on a named file mends it.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
