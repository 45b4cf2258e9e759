#!/usr/bin/env bash
# Builds havoc and its data file into build/ (and, given "asan", the
# sanitizer build into build-asan/).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = asan ]; then
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DHAVOC_SANITIZE=ON >/dev/null
    cmake --build build-asan -j"$(nproc)"
else
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j"$(nproc)"
fi
