#!/usr/bin/env bash
# Installs what building and running need, builds a Release build and runs the system's main job on
# a private demo store under ./var.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh run
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DVANTREX_TESTS=OFF >/dev/null
cmake --build build/release -j"$(nproc)"
mkdir -p var
exec tools/demo.sh build/release var
