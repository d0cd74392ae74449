#!/usr/bin/env bash
# Checks the layers of src/, installs what is missing, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/check-layers.sh
bash scripts/build.sh
(cd build && ctest --output-on-failure --no-tests=error --parallel "$(nproc)" "$@")
# Again with clang, with address and undefined-behaviour checks: the core tests and a
# few seconds of every fuzz target (the UI library is compiled; its tests and the
# collector scripts' tests ran above).
bash scripts/build-clang.sh
jobs=$(nproc)
[ "$jobs" -le 4 ] || jobs=4
cd build-clang
ctest --output-on-failure --no-tests=error --parallel "$jobs" --exclude-regex '^node_'
