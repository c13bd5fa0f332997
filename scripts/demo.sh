#!/usr/bin/env bash
# The main job on a fresh machine: install what is missing, build, and run `quillbox demo`: the
# library polls the built-in Modbus RTU simulator over a pseudo-terminal pair (no hardware).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQB_BUILD_TESTS=OFF >/dev/null
cmake --build build/release --target quillbox example_host
build/release/tools/quillbox demo "$@"
