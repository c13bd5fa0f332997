#!/usr/bin/env bash
# Builds and runs every test on a fresh machine: a normal build, an AddressSanitizer +
# UndefinedBehaviorSanitizer build, a ThreadSanitizer build of the threaded tests, a two-minute
# soak and a short bounded run of every fuzzer. Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
fuzz_seconds=${QB_FUZZ_SECONDS:-20}

echo "== normal build"
# The benchmarks are built (so that they keep building) but not run: their numbers need a quiet
# machine. See docs/performance.md.
cmake -S . -B build/normal -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB_BUILD_BENCH=ON >/dev/null
cmake --build build/normal -j "$jobs"
ctest --test-dir build/normal -j "$jobs" --output-on-failure

echo "== soak (2 minutes: paced polling, faults switched on and off, host threads calling)"
scripts/soak.sh --minutes 2

echo "== C interface reference (doxygen, no warnings)"
cmake --build build/normal --target doc

echo "== install and package"
tests/install/check_install.sh build/normal
(cd build/normal && rm -f quillbox_*.deb && cpack -G DEB >/dev/null)
deb=$(ls build/normal/quillbox_*.deb)
listing=$(dpkg-deb -c "$deb")
for f in usr/include/quillbox/quillbox.h usr/lib/libQUILLBOXCE.so.0 usr/lib/pkgconfig/quillbox.pc \
         usr/lib/cmake/Quillbox/QuillboxConfig.cmake usr/bin/quillbox usr/share/man/man1/quillbox.1 \
         usr/lib/python3/dist-packages/quillbox/__init__.py; do
  grep -q " \./$f" <<<"$listing" || { echo "$deb lacks $f"; exit 1; }
done

echo "== address + undefined behaviour sanitizers"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQB_SANITIZE=address,undefined >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build/asan -j "$jobs" --output-on-failure

echo "== thread sanitizer (threaded tests)"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQB_SANITIZE=thread >/dev/null
cmake --build build/tsan -j "$jobs" --target platform_tests serial_tests abi_tests \
  integration_tests example_host tools_tests
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan -j "$jobs" --output-on-failure \
  -R 'OwnerLoop|CApi|Serial|Reader|Libmodbus|Scripted|Pymodbus|example|Sim'

echo "== fuzzers (${fuzz_seconds} s each)"
CC=clang-14 CXX=clang++-14 cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQB_BUILD_FUZZERS=ON -DQB_BUILD_TESTS=OFF -DQB_SANITIZE=address,undefined >/dev/null
cmake --build build/fuzz -j "$jobs" --target fuzzers
for fuzzer in build/fuzz/fuzz/*_fuzz; do
  name=$(basename "$fuzzer")
  corpus=$(mktemp -d)
  seeds=fuzz/corpus/$name
  [ -d "$seeds" ] && cp -r "$seeds"/. "$corpus"/
  echo "-- $name"
  log=$(mktemp)
  status=0
  max_len=$(grep -o -m 1 -- '-max_len=[0-9]*' "fuzz/$name.cc" || echo -max_len=4096)
  leaks=$(grep -o -m 1 -- '-detect_leaks=0' "fuzz/$name.cc" || echo -detect_leaks=1)
  "$fuzzer" -max_total_time="$fuzz_seconds" "$max_len" "$leaks" -print_final_stats=1 \
    -artifact_prefix="build/fuzz/$name-" "$corpus" >"$log" 2>&1 || status=$?
  grep -E 'stat::number_of_executed_units' "$log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    echo "fuzzer $name failed"
    exit 1
  fi
  rm -rf "$corpus" "$log"
done
echo "all tests passed"
