#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer) and runs
# each for a given number of runs on its seed corpus, or only the fuzzers named after the count.
#   scripts/fuzz.sh RUNS [fuzzer ...]
# Prints each fuzzer's executed runs, seconds, coverage (edges "cov", features "ft") and corpus size;
# a finding is shown when its fuzzer stops and makes the script exit non-zero after the others ran
# (the input that caused it is kept as build/fuzz/<fuzzer>-crash-...). QB_FUZZ_BUDGET=SECONDS bounds the whole run: each fuzzer gets an
# even share of what is left (time a fast fuzzer leaves unused passes to the next ones).
# Each fuzzer runs with the -max_len its source names ("Run with -max_len=N", with the reason):
# inputs longer than what the input can meaningfully be only cost time.
# A source that says "Run with -detect_leaks=0" (with the reason) gets that too.
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
budget_end=$(( $(date +%s) + ${QB_FUZZ_BUDGET:-0} ))
left=${#names[@]}
failed=()
for name in "${names[@]}"; do
  limit=()
  if [ -n "${QB_FUZZ_BUDGET:-}" ]; then
    share=$(( (budget_end - $(date +%s)) / left ))
    limit=(-max_total_time=$(( share > 1 ? share : 1 )))
  fi
  left=$((left - 1))
  corpus=$(mktemp -d)
  [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name"/. "$corpus"/
  log=$(mktemp)
  start=$(date +%s)
  status=0
  max_len=$(grep -o -m 1 -- '-max_len=[0-9]*' "fuzz/$name.cc" || echo -max_len=4096)
  leaks=$(grep -o -m 1 -- '-detect_leaks=0' "fuzz/$name.cc" || echo -detect_leaks=1)
  "build/fuzz/fuzz/$name" -runs="$runs" "${limit[@]}" "$max_len" "$leaks" -print_final_stats=1 \
    -artifact_prefix="build/fuzz/$name-" "$corpus" >"$log" 2>&1 || status=$?
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1)
  echo "$name: ${executed:-?} runs in $(( $(date +%s) - start )) s, ${coverage:-cov: ?}," \
    "corpus $(ls "$corpus" | wc -l)"
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    echo "fuzzer $name failed"
    failed+=("$name")
  fi
  rm -rf "$corpus" "$log"
done
[ ${#failed[@]} -eq 0 ] || { echo "findings in: ${failed[*]}"; exit 1; }
