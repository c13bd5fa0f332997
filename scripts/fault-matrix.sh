#!/usr/bin/env bash
# The fault matrix: the library (through `quillbox poll`) against the simulator with one fault at
# a time, in each framing. For every cell it prints the replies, time-outs and wrong values, and
# whether polling went on after the last fault. Fails on any wrong value or when polling did not
# resume. The binaries come from build/normal (or $QB_BUILD).
#   scripts/fault-matrix.sh [CYCLES]
# Protocols: Modbus RTU and ASCII; the link protocols and the user protocol get their rows here
# (a `protocols` entry and the expected values) when their simulators and poll items exist.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QB_BUILD:-build/normal}
quillbox=$build/tools/quillbox
cycles=${1:-40}
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

protocols=(rtu ascii)
faults=("none" "--drop 3" "--corrupt 3" "--noise 3" "--noise 3 --noise-after" "--split 2 --split-gap 20"
        "--delay 60")  # "gone-and-back": see docs/reliability.md
values=(11 22 33)
expected='[11,22,33]'
failed=0

# Counts the events of a poll's JSON lines: replies, time-outs, wrong values, and whether replies
# came again after the first time-out (or no time-out came at all).
summarize() {
  python3 - "$1" "$expected" <<'PY'
import json, sys
replies = timeouts = wrong = 0
resumed = True
for line in open(sys.argv[1]):
    e = json.loads(line)
    if "event" not in e: continue
    if e["event"] == "reply":
        replies += 1
        if json.dumps(e["values"], separators=(",", ":")) != sys.argv[2]: wrong += 1
        resumed = True
    elif e["event"] == "timeout":
        if timeouts == 0: resumed = False
        timeouts += 1
print(replies, timeouts, wrong, "yes" if resumed else "no")
PY
}

# A device switched off and on: a relay between two pseudo-terminals keeps the library's end open
# while the simulator on the far end stops for a second and starts again.
relay() {
  python3 - "$work/near" "$work/far" <<'PY' &
import os, pty, select, sys, time, tty
near_m, near_s = pty.openpty(); far_m, far_s = pty.openpty()
for fd in (near_s, far_s): tty.setraw(fd)
os.symlink(os.ttyname(near_s), sys.argv[1]); os.symlink(os.ttyname(far_s), sys.argv[2])
while True:
    r, _, _ = select.select([near_m, far_m], [], [], 0.5)
    for src, dst in ((near_m, far_m), (far_m, near_m)):
        if src in r:
            try: os.write(dst, os.read(src, 4096))
            except OSError: time.sleep(0.01)
PY
  while [ ! -e "$work/far" ]; do sleep 0.05; done
}

printf '%-6s %-28s %8s %9s %6s %8s\n' mode fault replies time-outs wrong resumed
for mode in "${protocols[@]}"; do
  for fault in "${faults[@]}"; do
    sim_args=(--mode "$mode" --set "hr:0=$(IFS=,; echo "${values[*]}")")
    log=$work/poll.json
    if [ "$fault" = "gone-and-back" ]; then
      rm -f "$work/near" "$work/far"
      relay
      "$quillbox" sim "${sim_args[@]}" --device "$work/far" >/dev/null 2>&1 &
      sim=$!
      "$quillbox" poll "$work/near" -m "$mode" -a 1 -r 1 -c 3 -t 4 -P none -l 10 -o 0.2 --duration 4 --json \
        >"$log" 2>/dev/null &
      poll=$!
      sleep 1.5; kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true; sleep 1
      "$quillbox" sim "${sim_args[@]}" --device "$work/far" >/dev/null 2>&1 &
      sim=$!
      wait $poll || true
      kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true
      kill %1 2>/dev/null || true; wait 2>/dev/null || true
    else
      # shellcheck disable=SC2206
      extra=($fault)
      [ "$fault" = "none" ] && extra=()
      "$quillbox" sim "${sim_args[@]}" "${extra[@]}" >"$work/sim.out" 2>/dev/null &
      sim=$!
      while [ ! -s "$work/sim.out" ]; do sleep 0.05; done
      "$quillbox" poll "$(head -1 "$work/sim.out")" -m "$mode" -a 1 -r 1 -c 3 -t 4 -P none -l 10 -o 0.1 \
        --cycles "$cycles" --json >"$log" 2>/dev/null || true
      kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true
      rm -f "$work/sim.out"
    fi
    read -r replies timeouts wrong resumed < <(summarize "$log")
    printf '%-6s %-28s %8s %9s %6s %8s\n' "$mode" "$fault" "$replies" "$timeouts" "$wrong" "$resumed"
    if [ "$wrong" -ne 0 ] || [ "$resumed" != yes ] || [ "$replies" -eq 0 ]; then failed=1; fi
  done
done
exit $failed
