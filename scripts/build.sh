#!/usr/bin/env bash
# Builds havoc and its data file into build/ (and, given "asan", the
# frame-level tests under the sanitizers into build-asan/: the only tests
# that run there).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = asan ]; then
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DHAVOC_SANITIZE=ON >/dev/null
    cmake --build build-asan -j"$(nproc)" --target frame_tests
else
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j"$(nproc)"
fi
