#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer) and runs
# each for a given number of runs on its seed corpus, or only the fuzzers named after the count.
#   scripts/fuzz.sh RUNS [fuzzer ...]
# Prints each fuzzer's executed runs and its corpus size; exits non-zero on the first finding
# (the input that caused it is kept as build/fuzz/<fuzzer>-crash-...).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:?usage: scripts/fuzz.sh RUNS [fuzzer ...]}
shift
CC=clang-14 CXX=clang++-14 cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQB_BUILD_FUZZERS=ON -DQB_BUILD_TESTS=OFF -DQB_SANITIZE=address,undefined >/dev/null
cmake --build build/fuzz -j "$(nproc)" --target fuzzers
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for fuzzer in build/fuzz/fuzz/*_fuzz; do names+=("$(basename "$fuzzer")"); done
fi
for name in "${names[@]}"; do
  corpus=$(mktemp -d)
  [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name"/. "$corpus"/
  log=$(mktemp)
  start=$(date +%s)
  status=0
  "build/fuzz/fuzz/$name" -runs="$runs" -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="build/fuzz/$name-" "$corpus" >"$log" 2>&1 || status=$?
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "$name: ${executed:-?} runs in $(( $(date +%s) - start )) s, corpus $(ls "$corpus" | wc -l)"
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    echo "fuzzer $name failed"
    exit 1
  fi
  rm -rf "$corpus" "$log"
done
