#!/usr/bin/env bash
# Which tester, against several testers of quarn-sim's USB view (QUARN_SYSFS_ROOT,
# QUARN_DEV_ROOT): --list with each device's USB identity, --serial and --location picking one
# (the others receive no byte), no match and several matches with the testers listed, every
# tester updated at once by the README's own script (one of them unplugged mid-transfer), and two
# processes given the same tester.
# Usage: cli_which.sh <directory of the native binaries> <source directory>
#   QUARN_E2E_ONLY=<regex> runs only the rows whose names match.
set -uo pipefail
bin=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
# shellcheck source=tests/e2e/lib/sim_control.sh
source "$src/tests/e2e/lib/sim_control.sh"
# shellcheck source=tests/e2e/lib/cli_cases.sh
source "$src/tests/e2e/lib/cli_cases.sh"  # await_first_block
sim_help=$("$bin/quarn-sim" --help 2>&1)  # whole, so no pipe is cut short under pipefail
if [[ $sim_help != *--usb-view* ]]; then
  echo "skipped: this quarn-sim has no USB view (--usb-view)"
  exit 77
fi
python=python3
[[ -x /usr/bin/python3 ]] && python=/usr/bin/python3
cli_checks=$src/tests/e2e/lib/cli_checks.py
work=$(mktemp -d /tmp/quarn-which.XXXXXX)
cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
passed=0
failed=0

# The received image and the log of tester N (from 1) of the view.
received() { if (($2 == 1)); then echo "$1/received.bin"; else echo "$1/received.bin.$2"; fi; }
sim_log() { if (($2 == 1)); then echo "$1/sim.log"; else echo "$1/sim.log.$2"; fi; }

verdict() {  # verdict <name> <ms> <dir> [output files...]: counts the row, shows why it failed
  local name=$1 ms=$2 dir=$3
  shift 3
  if [[ -z $why ]]; then
    passed=$((passed + 1))
    echo "ok   $name (${ms} ms)"
    return
  fi
  failed=$((failed + 1))
  echo "FAIL $name: $why"
  local f
  for f in "$@"; do sed "s|^|  $(basename "$f"): |" "$f" 2>/dev/null | head -20; done
  tail -8 "$dir/sim.err" 2>/dev/null | sed 's/^/  sim: /'
}

new_case() {  # new_case <dir> <package options...>
  mkdir -p "$1/package"
  "$python" "$src/scripts/make_sample_package.py" "$1/package" "${@:2}" >/dev/null
}

# run_case <name> <expected exit> [options] -- <quarn-update arguments>
#   --sim "<options>"   the USB view's options (default three testers)
#   --expect <text>     text that stdout or stderr must hold
#   --event '<JSON>'    a line of stdout holds every member of this object (repeatable)
#   --image N           tester N received exactly QUARN.bin
#   --untouched "N..."  these testers received no byte at all
run_case() {
  local name=$1 expected_exit=$2
  shift 2
  [[ $name =~ ${QUARN_E2E_ONLY:-.} ]] || return 0
  local sim_options="--testers 3 --exit-after-completion" expect="" image="" untouched=""
  local -a events=()
  while [[ $1 != -- ]]; do
    case $1 in
      --sim) sim_options=$2; shift 2 ;;
      --expect) expect=$2; shift 2 ;;
      --event) events+=("$2"); shift 2 ;;
      --image) image=$2; shift 2 ;;
      --untouched) untouched=$2; shift 2 ;;
      *) echo "$name: unknown option $1" >&2; exit 2 ;;
    esac
  done
  shift
  local dir=$work/$name why="" code=0 ms=0
  new_case "$dir" --size 3000
  local -a sim_args
  read -r -a sim_args <<<"$sim_options"
  if ! start_usb_sim "$dir" --log "$dir/sim.log" "${sim_args[@]}" >"$dir/sim.why"; then
    why="simulator did not start: $(cat "$dir/sim.why"); "
  else
    local t0
    t0=$(date +%s%N)
    local -a args=()
    local arg
    for arg in "$@"; do args+=("$(with_locations "$arg" "$dir/usb")"); done
    expect=$(with_locations "$expect" "$dir/usb")
    (cd "$dir/package" && exec env QUARN_SYSFS_ROOT="$dir/usb/sys" QUARN_DEV_ROOT="$dir/usb/dev" \
      "$bin/quarn-update" "${args[@]}" >"$dir/out" 2>"$dir/err")
    code=$?
    ms=$((($(date +%s%N) - t0) / 1000000))
    stop_sim
    [[ $code == "$expected_exit" ]] || why+="exit $code, expected $expected_exit; "
    [[ -z $expect ]] || grep -qF -- "$expect" "$dir/out" "$dir/err" || why+="no '$expect'; "
    local event n
    for event in "${events[@]}"; do
      "$python" "$cli_checks" holds "$dir/out" "$(with_locations "$event" "$dir/usb")" >"$dir/holds" 2>&1 ||
        why+="$(cat "$dir/holds"); "
    done
    if [[ " $* " == *" --json "* ]]; then
      "$python" "$cli_checks" json "$dir/out" "$expected_exit" >"$dir/json" 2>&1 ||
        why+="$(cat "$dir/json"); "
    fi
    if [[ -n $image ]] && ! cmp -s "$dir/package/QUARN.bin" "$(received "$dir" "$image")"; then
      why+="tester $image did not receive QUARN.bin; "
    fi
    for n in $untouched; do
      grep -q ' rx ' "$(sim_log "$dir" "$n")" 2>/dev/null && why+="tester $n received bytes; "
    done
  fi
  verdict "$name" "$ms" "$dir" "$dir/out" "$dir/err"
}

done_text="Programming complete."

# Where the view puts tester N (serial number QA000N, its default): read from --list once, so
# the rows below say @LOC<N>@ and do not depend on the view's numbering.
probe_locations() {
  local dir=$work/probe
  new_case "$dir" --size 3000
  start_usb_sim "$dir" --testers 3 >"$dir/sim.why" || { cat "$dir/sim.why"; exit 1; }
  env QUARN_SYSFS_ROOT="$dir/usb/sys" QUARN_DEV_ROOT="$dir/usb/dev" "$bin/quarn-update" --list \
    --json >"$dir/list"
  stop_sim
  mapfile -t locations < <("$python" - "$dir/list" <<'PY'
import json, sys
devices = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
by_serial = {d["serial"]: d["location"] for d in devices if d["event"] == "device" and d["tester"]}
for n in (1, 2, 3):
    print(by_serial[f"QA000{n}"])
PY
  )
  ((${#locations[@]} == 3)) || { echo "no three testers in the view: $(cat "$dir/list")"; exit 1; }
}
probe_locations
with_locations() {  # the text with @LOC1@ to @LOC3@ and @USB@ (the view's folder) filled in
  local text=${1//@USB@/$2}
  text=${text//@LOC1@/${locations[0]}}
  text=${text//@LOC2@/${locations[1]}}
  printf '%s' "${text//@LOC3@/${locations[2]}}"
}

# Three testers, two ttys that are not USB: each row names its identity, nothing where the bus
# tells nothing.
run_case list-json 4 \
  --event '{"event":"device","tester":true,"serial":"QA0001","location":"@LOC1@"}' \
  --event '{"event":"device","tester":true,"serial":"QA0003","location":"@LOC3@"}' \
  --event '{"event":"device","tester":false,"vid":null,"pid":null,"serial":null,"location":null}' \
  --event '{"event":"result","code":"tooManyTesters","exit":4}' -- --list --json
run_case list-text 4 --expect "QA0002        @LOC2@ " -- --list
# Linux reports serial numbers as the device gives them; they compare without regard to case.
run_case serial-any-case 0 --image 2 --untouched "1 3" \
  --event '{"event":"tester","deviceId":"11130d0a03041a7f00ff805a","serial":"QA0002","location":"@LOC2@"}' \
  --event '{"event":"result","code":"programmingComplete","serial":"QA0002","location":"@LOC2@"}' \
  -- --json --serial qa0002
run_case location 0 --image 3 --untouched "1 2" --expect "tester 11130d0a03041a7f00ff805a" \
  -- --location @LOC3@
run_case serial-and-location 0 --image 1 --untouched "2 3" --expect "$done_text" \
  -- --serial QA0001 --location @LOC1@
run_case serial-and-location-of-two-testers 3 --untouched "1 2 3" \
  --expect "no tester has serial number QA0001 and location @LOC2@; the testers seen:" \
  -- --serial QA0001 --location @LOC2@
run_case no-match 3 --untouched "1 2 3" \
  --event '{"event":"error","code":"noMatchingTester"}' -- --json --location 9-9.9
run_case several 4 --untouched "1 2 3" \
  --expect "3 testers are connected; pick one with --serial, --location or --port:" --
run_case port-and-serial 1 --untouched "1 2 3" --expect "--port names the port itself" \
  -- --port @USB@/dev/ttyACM0 --serial QA0001

# The README's "Updating every connected tester at once", run as it stands: three testers, the
# third unplugged at block 20. Two end "Programming complete." with identical images, the third
# with its own failure, and units.jsonl holds one result per tester naming its unit.
parallel_readme() {
  local name=parallel-readme
  [[ $name =~ ${QUARN_E2E_ONLY:-.} ]] || return 0
  local dir=$work/$name why="" code=0 ms=0
  new_case "$dir" --size 6000
  "$python" - "$src/README.md" >"$dir/update_all.sh" <<'PY'
import sys
text = open(sys.argv[1], encoding="utf-8").read()
section = text.split("### Updating every connected tester at once", 1)[1]
print(section.split("```sh\n", 1)[1].split("```", 1)[0], end="")
PY
  if ! [[ -s $dir/update_all.sh ]]; then
    why="no script in the README; "
  elif ! start_usb_sim "$dir" --log "$dir/sim.log" --testers 3 --unplug-tester 3:20 \
    >"$dir/sim.why"; then
    why="simulator did not start: $(cat "$dir/sim.why"); "
  else
    local t0
    t0=$(date +%s%N)
    (cd "$dir/package" && exec env PATH="$bin:$PATH" QUARN_SYSFS_ROOT="$dir/usb/sys" \
      QUARN_DEV_ROOT="$dir/usb/dev" bash "$dir/update_all.sh" >"$dir/out" 2>"$dir/err")
    code=$?
    ms=$((($(date +%s%N) - t0) / 1000000))
    stop_sim
    [[ $code == 0 ]] || why+="the script ended with $code; "
    cmp -s "$dir/package/QUARN.bin" "$dir/received.bin" || why+="tester 1 did not receive QUARN.bin; "
    cmp -s "$dir/package/QUARN.bin" "$dir/received.bin.2" || why+="tester 2 did not receive QUARN.bin; "
    "$python" - "$dir/package/units.jsonl" "${locations[@]}" >"$dir/units.why" 2>&1 <<'PY' || why+="$(cat "$dir/units.why"); "
import json, sys
units = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
assert len(units) == 3, f"{len(units)} records"
by_serial = {u["serial"]: u for u in units}
assert sorted(by_serial) == ["QA0001", "QA0002", "QA0003"], sorted(by_serial)
for n, location in enumerate(sys.argv[2:], 1):
    u = by_serial[f"QA000{n}"]
    assert u["event"] == "result" and u["location"] == location, u
    assert u["deviceId"] == "11130d0a03041a7f00ff805a", u
    assert u["size"] == 6000 and u["host"] and u["time"].endswith("Z"), u
    done = u["code"] == "programmingComplete"
    assert done == (n != 3) and (u["exit"] == 0) == done, u
PY
    ((ms < 30000)) || why+="took $ms ms; "
  fi
  verdict "$name" "$ms" "$dir" "$dir/out" "$dir/err" "$dir/package/units.jsonl"
}
parallel_readme

# Each process locks only its own port: a second one given the same tester, while the first
# sends blocks, fails at once with "Failed to open" (exit 5), and the first completes.
same_tester_twice() {
  local name=same-serial-twice
  [[ $name =~ ${QUARN_E2E_ONLY:-.} ]] || return 0
  local dir=$work/$name why="" code1=0 code2=0 ms=0
  new_case "$dir" --size 60000
  if ! start_usb_sim "$dir" --log "$dir/sim.log" --testers 2 --pace-baud 256000 \
    --exit-after-completion >"$dir/sim.why"; then
    why="simulator did not start: $(cat "$dir/sim.why"); "
  else
    (cd "$dir/package" && exec env QUARN_SYSFS_ROOT="$dir/usb/sys" QUARN_DEV_ROOT="$dir/usb/dev" \
      "$bin/quarn-update" --serial QA0001 >"$dir/out1" 2>"$dir/err1") &
    local first=$!
    await_first_block "$dir/sim.log" || why+="no block ever arrived; "
    local t0
    t0=$(date +%s%N)
    (cd "$dir/package" && exec env QUARN_SYSFS_ROOT="$dir/usb/sys" QUARN_DEV_ROOT="$dir/usb/dev" \
      "$bin/quarn-update" --serial qa0001 >"$dir/out2" 2>"$dir/err2") || code2=$?
    ms=$((($(date +%s%N) - t0) / 1000000))
    wait "$first" || code1=$?
    stop_sim
    [[ $code2 == 5 ]] || why+="second exit $code2, expected 5; "
    grep -qF "Failed to open" "$dir/out2" "$dir/err2" || why+="no 'Failed to open' for the second; "
    ((ms < 2000)) || why+="the second took $ms ms; "
    [[ $code1 == 0 ]] || why+="first exit $code1; "
    cmp -s "$dir/package/QUARN.bin" "$dir/received.bin" || why+="tester 1 did not receive QUARN.bin; "
    grep -q ' rx ' "$dir/sim.log.2" 2>/dev/null && why+="tester 2 received bytes; "
  fi
  verdict "$name" "$ms" "$dir" "$dir/out1" "$dir/err1" "$dir/out2" "$dir/err2"
}
same_tester_twice

echo "$passed passed, $failed failed"
[[ $failed == 0 ]] && [[ $passed -gt 0 ]]
