#!/usr/bin/env bash
# The fault matrix: the library (through `quillbox poll`) against the simulator, one fault at a
# time, under every protocol the library speaks: Modbus RTU and ASCII, LSMK, MKLD, MBFX and a user
# protocol (the bench scale of examples/userproto). The device holds known values (11, 22, 33; the
# scale weighs 1250 kg). For every cell it prints the replies, time-outs, detailed-error events
# (refused replies, exceptions, a lost port) and wrong values, and whether replies came again after
# the last time-out. Fails on any wrong value, on a cell without replies, or when polling did not
# resume. The binaries come from build/normal (or $QB_BUILD).
#   scripts/fault-matrix.sh [SECONDS-PER-CELL] [PROTOCOL...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QB_BUILD:-build/normal}
quillbox=$build/tools/quillbox
seconds=${1:-4}
shift || true
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

protocols=("$@")
[ ${#protocols[@]} -gt 0 ] || protocols=(rtu ascii lsmk mkld mbfx user)
faults=("none" "--drop 3" "--corrupt 3" "--noise 3" "--noise 3 --noise-after"
        "--split 2 --split-gap 20" "--delay 60" "slow" "gone-and-back")

# The simulator's and the poll's arguments, and the values each item must show, per protocol.
setup() {
  case $1 in
    rtu | ascii)
      sim_args=(--mode "$1" --set hr:0=11,22,33)
      poll_args=(-m "$1" -a 1 -r 1 -c 3 -t 4 -P none -l 10 --json)
      expected='{"1":[11,22,33]}' ;;
    lsmk | mkld)
      sim_args=(--protocol "$1" --set D100=11,22,33)
      poll_args=(--protocol "${1^^}" --read D100 --read D101 --read D102 -P none --json)
      expected='{"1":[11],"2":[22],"3":[33]}' ;;
    mbfx)
      sim_args=(--protocol mbfx --set D100=11,22,33)
      poll_args=(--protocol MBFX --read D100:3 -P none --json)
      expected='{"1":[11,22,33]}' ;;
    user)
      sim_args=(--script examples/userproto/scale-sim.toml)
      poll_args=(--protocol USRPRTCL --definition examples/userproto/scale.toml
                 --packet READ:ADDR=1)
      expected='WEIGHT=n1250' ;;
  esac
}

# Counts a poll's output: JSON lines (Modbus and the link protocols) or the user protocol's event
# lines. Prints replies, time-outs, detailed events, wrong values and whether replies came after
# the first time-out (after the last one with "last": the device was gone in between).
summarize() {
  python3 - "$1" "$expected" "${2:-first}" <<'PY'
import json, sys
expected = sys.argv[2]
after_first = sys.argv[3] == "first"
replies = timeouts = detailed = wrong = 0
last = None
for line in open(sys.argv[1], errors="replace"):
    line = line.strip()
    if line.startswith("{"):
        e = json.loads(line)
        kind = e.get("event")
        if kind == "reply":
            want = json.loads(expected).get(str(e["item"]))
            if e.get("request", "read") == "read" and e["values"] != want: wrong += 1
        elif kind in ("rejected", "exception", "port-lost"):
            detailed += 1
    elif line.startswith("event 100:"):
        kind = "reply"
        if "[" + expected not in line and "&" + expected not in line: wrong += 1
    elif line.startswith("time-out of item"):
        kind = "timeout"
    else:
        continue
    if kind == "reply": replies += 1; last = "reply"
    if kind == "timeout":
        if not (after_first and timeouts): last = "timeout"
        timeouts += 1
print(replies, timeouts, detailed, wrong, "yes" if replies and last != "timeout" else "no")
PY
}

# A pseudo-terminal relay: the library's end ($work/near) stays open while the simulator on the
# far end ($work/far) stops and starts again.
relay() {
  python3 - "$work/near" "$work/far" <<'PY' &
import os, pty, select, sys, time, tty
near_m, near_s = pty.openpty(); far_m, far_s = pty.openpty()
for fd in (near_s, far_s): tty.setraw(fd)
os.symlink(os.ttyname(near_s), sys.argv[1]); os.symlink(os.ttyname(far_s), sys.argv[2])
pairs = {near_m: far_m, far_m: near_m}
while True:
    for src in select.select(list(pairs), [], [], 0.5)[0]:
        try: os.write(pairs[src], os.read(src, 4096))
        except OSError: time.sleep(0.01)
PY
  relay_pid=$!
  while [ ! -e "$work/far" ]; do sleep 0.05; done
}

stop() { kill "$1" 2>/dev/null || true; wait "$1" 2>/dev/null || true; }

printf '%-6s %-26s %8s %9s %8s %6s %8s\n' proto fault replies time-outs detailed wrong resumed
failed=0
for proto in "${protocols[@]}"; do
  setup "$proto"
  for fault in "${faults[@]}"; do
    log=$work/poll.out
    line=(-o 0.3)
    extra=()
    case $fault in
      none | gone-and-back) ;;
      slow) line=(-b 1200 -o 1); extra=(--pace -b 1200) ;;  # a device on a 1200 baud line
      *) read -r -a extra <<<"$fault" ;;
    esac
    if [ "$fault" = "gone-and-back" ]; then
      # The device is switched off after a second and on again 1.5 s later.
      rm -f "$work/near" "$work/far"
      relay
      "$quillbox" sim "$work/far" -P none "${sim_args[@]}" >/dev/null 2>&1 &
      sim=$!
      "$quillbox" poll "$work/near" "${poll_args[@]}" "${line[@]}" --duration "$((seconds + 2))" \
        >"$log" 2>/dev/null &
      poll=$!
      sleep 1; stop $sim; sleep 1.5
      "$quillbox" sim "$work/far" -P none "${sim_args[@]}" >/dev/null 2>&1 &
      sim=$!
      wait $poll || true
      stop $sim; stop "$relay_pid"
    else
      "$quillbox" sim "${sim_args[@]}" "${extra[@]}" >"$work/sim.out" 2>/dev/null &
      sim=$!
      while [ ! -s "$work/sim.out" ]; do sleep 0.05; done
      "$quillbox" poll "$(head -1 "$work/sim.out")" "${poll_args[@]}" "${line[@]}" \
        --duration "$seconds" >"$log" 2>/dev/null || true
      stop $sim
      rm -f "$work/sim.out"
    fi
    read -r replies timeouts detailed wrong resumed < <(summarize "$log" "$([ "$fault" = gone-and-back ] && echo last)")
    printf '%-6s %-26s %8s %9s %8s %6s %8s\n' "$proto" "$fault" "$replies" "$timeouts" \
      "$detailed" "$wrong" "$resumed"
    if [ "$wrong" -ne 0 ] || [ "$resumed" != yes ]; then failed=1; fi
    if [ "$fault" = "gone-and-back" ] && [ "$timeouts" -eq 0 ]; then failed=1; fi
  done
done
exit $failed
