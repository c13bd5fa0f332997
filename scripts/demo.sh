#!/usr/bin/env bash
# The main job on a fresh machine: install what is missing, build, and run the example host, which
# polls a small Modbus RTU device of its own through the library (no hardware needed).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQB_BUILD_TESTS=OFF >/dev/null
cmake --build build/release --target example_host
build/release/examples/example_host "${1:-3}"
