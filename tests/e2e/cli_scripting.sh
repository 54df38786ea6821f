#!/usr/bin/env bash
# quarn-update as scripts use it, against quarn-sim's USB view, the sysfs tree and device
# directory it keeps as Linux would (QUARN_SYSFS_ROOT, QUARN_DEV_ROOT): discovery, the package from the current directory, --check, --list, --json
# (every line parsed), --quiet, and Ctrl-C in the middle of a transfer.
# Usage: cli_scripting.sh <directory of the native binaries> <source directory>
set -uo pipefail
bin=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
# shellcheck source=tests/e2e/lib/sim_control.sh
source "$src/tests/e2e/lib/sim_control.sh"
python=python3
[[ -x /usr/bin/python3 ]] && python=/usr/bin/python3
work=$(mktemp -d /tmp/quarn-cli.XXXXXX)
cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
passed=0
failed=0

cli_checks=$src/tests/e2e/lib/cli_checks.py
# shellcheck source=tests/e2e/lib/cli_cases.sh
source "$src/tests/e2e/lib/cli_cases.sh"

# run_case <name> <expected exit> [options] -- <quarn-update arguments>
# The options are those of read_case_options (tests/e2e/lib/cli_cases.sh); --devices lists the
# USB product strings (printf %b escapes) of the devices in the simulator's USB view, one
# simulated device each (beside them the view has ttys that are not USB), and a simulator runs
# for every row. quarn-update runs in the package's directory, so
# without --package it takes the package there.
run_case() {
  local name=$1 expected_exit=$2
  shift 2
  local devices package sim_options expect stdout_is json image interrupt signal case_args
  read_case_options "$name" "$@"
  local dir=$work/$name
  mkdir -p "$dir/package"
  local -a products package_args sim_args
  IFS='|' read -r -a products <<<"$devices"
  read -r -a package_args <<<"$package"
  read -r -a sim_args <<<"$sim_options"
  local product
  for product in "${products[@]}"; do sim_args+=(--product "$(printf '%b' "$product")"); done
  "$python" "$src/scripts/make_sample_package.py" "$dir/package" "${package_args[@]}"
  local why="" code=0 ms=0
  if ! start_usb_sim "$dir" --log "$dir/sim.log" --testers "${#products[@]}" "${sim_args[@]}" \
    >"$dir/sim.why"; then
    why="simulator did not start"
  else
    local t0 t1
    t0=$(date +%s%N)
    (cd "$dir/package" && exec env QUARN_SYSFS_ROOT="$dir/usb/sys" QUARN_DEV_ROOT="$dir/usb/dev" \
      "$bin/quarn-update" "${case_args[@]}" >"$dir/out" 2>"$dir/err") &
    local pid=$!
    if ((interrupt)); then
      await_first_block "$dir/sim.log" || why+="no block ever arrived; "
      t0=$(date +%s%N)
      kill -"$signal" "$pid"
    fi
    wait "$pid" || code=$?
    t1=$(date +%s%N)
    ms=$(((t1 - t0) / 1000000))
    # The bootloader's node: the updater held ttyACM0 through the pause.
    ((interrupt)) && judge_port_free "$dir/usb/dev/ttyACM1"
    ((interrupt && ms > 5000)) && why+="took $ms ms to end after SIG$signal; "
    stop_sim
    judge_run "$dir" "$code" "$expected_exit"
  fi
  if [[ -z $why ]]; then
    passed=$((passed + 1))
    echo "ok   $name (${ms} ms)"
  else
    failed=$((failed + 1))
    echo "FAIL $name: $why"
    sed 's/^/  out: /' "$dir/out" 2>/dev/null | head -20
    sed 's/^/  err: /' "$dir/err" 2>/dev/null | head -20
    tail -5 "$dir/sim.err" 2>/dev/null | sed 's/^/  sim: /'
  fi
}

two="Zentrika QUARN PD Tester|Zentrika QUARN PD Tester (second)"
other="FT232R USB UART"
bad_utf8='Zentrika QUARN \xff\xfe bench \xc3 unit'

run_case update-from-current-dir 0 --image --sim "--exit-after-completion" \
  --expect "Programming complete." --
run_case quiet-update 0 --image --stdout "Programming complete." -- --quiet
run_case no-tester 3 --devices "$other" \
  --expect "Quarn Updater: Error: No Zentrika Quarn device detected." --
run_case two-testers 4 --devices "$two" --expect "(second) found" --
run_case check-good 0 --expect "The package passes the check" -- --check
run_case check-bad-crc 10 --package "--size 3000 --wrong-crc" \
  --expect "Quarn Updater: Error: Failed to validate firmware (crc32 mismatch)" -- --check
run_case check-json-no-metadata 7 --json --package "--size 3000 --no-metadata" \
  --expect '"code":"metadataFileMissing"' -- --check --json
run_case list 0 --devices "Zentrika QUARN PD Tester|$other" \
  --expect "One tester, on $work/list/usb/dev/ttyACM0." -- --list
run_case list-json-malformed-product 0 --json --devices "$bad_utf8|$other" \
  --expect '"tester":true' -- --list --json
run_case json-success 0 --json --image --sim "--exit-after-completion" \
  --expect '"code":"programmingComplete"' -- --json
run_case json-start-refused 15 --json --sim "--refuse-start" \
  --expect '"code":"startRefused"' -- --json
run_case json-usage-error 1 --json --expect '"code":"usage"' -- --json --bogus
run_case interrupt-text 130 --interrupt --package "--size 200000" --sim "--pace-baud 256000" \
  --expect "update interrupted; the tester may be left in its bootloader" --
run_case sigterm-json 130 --interrupt --signal TERM --json --package "--size 200000" \
  --sim "--pace-baud 256000" --expect '"code":"interrupted"' -- --json

echo "$passed passed, $failed failed"
[[ $failed == 0 ]]
