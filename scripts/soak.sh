#!/usr/bin/env bash
# The soak: polling at the line's pace (19200 baud, paced simulator) for N minutes while the
# simulated device changes its faults every 15 s (none, drop, corrupt, noise before and after,
# split, delay), goes away for a second between them, and four host threads call exports
# (blocking reads and writes checked against the device, the plain getters). Fails on a wrong
# value, or when memory (RSS beyond 4 MB), descriptors or threads grow after the warm-up.
# The library and the quillbox command come from build/normal (or $QB_BUILD).
#   scripts/soak.sh --minutes N
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QB_BUILD:-build/normal}
minutes=
while [ $# -gt 0 ]; do
  case $1 in
    --minutes) minutes=${2:?}; shift 2 ;;
    *) echo "usage: scripts/soak.sh --minutes N" >&2; exit 2 ;;
  esac
done
[ -n "$minutes" ] || { echo "usage: scripts/soak.sh --minutes N" >&2; exit 2; }
PYTHONPATH=python QUILLBOX_LIBRARY=$build/libQUILLBOXCE.so.0 \
  exec python3 scripts/soak_host.py "$minutes" "$build/tools/quillbox"
