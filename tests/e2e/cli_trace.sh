#!/usr/bin/env bash
# quarn-update --trace against quarn-sim: the trace of an update is JSON Lines whose blocks match
# the package (elided to number, length and CRC-32, or whole with --trace-full); a failed session
# ends its trace with its own result; a session killed in the middle leaves whole lines; a trace
# file that cannot be written stops the update before any port is opened.
# Usage: cli_trace.sh <directory of the native binaries> <source directory>
set -uo pipefail
bin=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
# shellcheck source=tests/e2e/lib/sim_control.sh
source "$src/tests/e2e/lib/sim_control.sh"
python=python3
[[ -x /usr/bin/python3 ]] && python=/usr/bin/python3
checks=$src/tests/e2e/lib/trace_checks.py
work=$(mktemp -d /tmp/quarn-trace.XXXXXX)
cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
passed=0
failed=0

# row <name> <expected exit> <full|elided|cut> <sim options...>
row() {
  local name=$1 expected=$2 mode=$3
  shift 3
  local dir=$work/$name why=""
  mkdir -p "$dir/package"
  "$python" "$src/scripts/make_sample_package.py" "$dir/package" --size 3000 --seed 7
  if ! start_sim "$dir" "$@"; then
    why="the simulator did not start"
  else
    local -a extra=()
    [[ $mode == full ]] && extra=(--trace-full)
    "$bin/quarn-update" --port "$dir/link" --package "$dir/package" --trace "$dir/trace.jsonl" \
      "${extra[@]}" >"$dir/out" 2>&1 &
    local pid=$!
    if [[ $mode == cut ]]; then
      for _ in $(seq 600); do
        grep -q '"block":10,' "$dir/trace.jsonl" 2>/dev/null && break
        sleep 0.02
      done
      kill -KILL "$pid"
    fi
    local code=0
    { wait "$pid"; } 2>/dev/null || code=$?
    stop_sim
    if [[ $mode == cut ]]; then
      [[ $code == 137 ]] || why+="exit $code, expected to be killed; "
      "$python" "$checks" "$dir/trace.jsonl" "$dir/package/QUARN.bin" 0 elided cut \
        >"$dir/check" 2>&1 || why+="$(cat "$dir/check"); "
    else
      [[ $code == "$expected" ]] || why+="exit $code, expected $expected; "
      "$python" "$checks" "$dir/trace.jsonl" "$dir/package/QUARN.bin" "$expected" "$mode" \
        >"$dir/check" 2>&1 || why+="$(cat "$dir/check"); "
    fi
  fi
  if [[ -z $why ]]; then
    passed=$((passed + 1)); echo "ok   $name"
  else
    failed=$((failed + 1)); echo "FAIL $name: $why"; sed 's/^/  out: /' "$dir/out" 2>/dev/null
  fi
}

row update-elided 0 elided --exit-after-completion
row update-full 0 full --exit-after-completion
# The tester stops acknowledging block 5: every sending of it is in the trace, then the result.
row block-unanswered 18 elided --drop-block-ack 5:4
row killed-mid-transfer 137 cut --pace-baud 9600

# A trace that cannot be written: nothing is opened, the result says why.
dir=$work/unwritable
mkdir -p "$dir/package"
"$python" "$src/scripts/make_sample_package.py" "$dir/package" --size 300 --seed 1
start_sim "$dir" >/dev/null
"$bin/quarn-update" --json --port "$dir/link" --package "$dir/package" \
  --trace "$dir/no/such/dir/trace.jsonl" >"$dir/out" 2>&1
code=$?
stop_sim
if [[ $code == 1 ]] && tail -n1 "$dir/out" | grep -q '"code":"traceFile"' &&
  grep -q 'received 0 bytes' "$dir/sim.err"; then
  passed=$((passed + 1)); echo "ok   unwritable-trace"
else
  failed=$((failed + 1)); echo "FAIL unwritable-trace: exit $code"; sed 's/^/  out: /' "$dir/out"
fi

echo "$passed passed, $failed failed"
((failed == 0))
