#!/usr/bin/env bash
# quarn-update as scripts use it, against quarn-sim and a made-up sysfs tree (QUARN_SYSFS_ROOT,
# QUARN_DEV_ROOT): discovery, the package from the current directory, --check, --list, --json
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

# make_sysfs <dir> <product>...: one USB tty per product (ttyUSB0, ttyUSB1, ...) whose device
# node is a link to the simulator's pty, and a built-in UART (ttyS0) without a product string.
make_sysfs() {
  local dir=$1 index=0 product
  shift
  mkdir -p "$dir/sys/class/tty/ttyS0" "$dir/sys/devices/platform/serial8250" "$dir/dev"
  ln -s "$dir/sys/devices/platform/serial8250" "$dir/sys/class/tty/ttyS0/device"
  for product in "$@"; do
    local usb=$dir/sys/devices/usb1/1-$index node=ttyUSB$index
    mkdir -p "$usb/1-$index:1.0" "$dir/sys/class/tty/$node"
    echo 1209 >"$usb/idVendor"
    printf '%b\n' "$product" >"$usb/product"
    ln -s "$usb/1-$index:1.0" "$dir/sys/class/tty/$node/device"
    ln -s "$dir/link" "$dir/dev/$node"
    index=$((index + 1))
  done
}

checks() { "$python" "$src/tests/e2e/lib/cli_checks.py" "$@"; }

# run_case <name> <expected exit> [options] -- <quarn-update arguments>
#   --devices "<product>|<product>..."  USB products of the made-up sysfs (printf %b escapes)
#   --package "<options>"  make_sample_package.py options (default --size 3000)
#   --sim "<options>"      simulator options (a simulator runs for every case)
#   --expect <text>        text that stdout or stderr must hold
#   --stdout <text>        stdout must be exactly this (printf %b)
#   --json                 every line of stdout is JSON, the last the result
#   --image                the simulator received exactly QUARN.bin
#   --interrupt            SIGINT once blocks flow; then exit 130 at once and the port free
# quarn-update runs in the package's directory, so without --package it takes the package there.
run_case() {
  local name=$1 expected_exit=$2
  shift 2
  local devices="Zentrika QUARN PD Tester" package="--size 3000" sim="" expect="" stdout_is=""
  local json=0 image=0 interrupt=0
  while [[ $1 != -- ]]; do
    case $1 in
      --devices) devices=$2; shift 2 ;;
      --package) package=$2; shift 2 ;;
      --sim) sim=$2; shift 2 ;;
      --expect) expect=$2; shift 2 ;;
      --stdout) stdout_is=$2; shift 2 ;;
      --json) json=1; shift ;;
      --image) image=1; shift ;;
      --interrupt) interrupt=1; shift ;;
      *) echo "run_case $name: unknown option $1"; exit 2 ;;
    esac
  done
  shift
  local dir=$work/$name
  mkdir -p "$dir/package"
  local -a products package_args sim_args
  IFS='|' read -r -a products <<<"$devices"
  read -r -a package_args <<<"$package"
  read -r -a sim_args <<<"$sim"
  make_sysfs "$dir" "${products[@]}"
  "$python" "$src/scripts/make_sample_package.py" "$dir/package" "${package_args[@]}"
  local why="" code ms
  if ! start_sim "$dir" --log "$dir/sim.log" --vanish 300 "${sim_args[@]}" >"$dir/sim.why"; then
    why="simulator did not start"
  else
    local t0 t1
    t0=$(date +%s%N)
    (cd "$dir/package" && exec env QUARN_SYSFS_ROOT="$dir/sys" QUARN_DEV_ROOT="$dir/dev" \
      "$bin/quarn-update" "$@" >"$dir/out" 2>"$dir/err") &
    local pid=$!
    if ((interrupt)); then
      for _ in $(seq 200); do
        grep -q 'rx \[63\]' "$dir/sim.log" 2>/dev/null && break
        sleep 0.05
      done
      t0=$(date +%s%N)
      kill -INT "$pid"
    fi
    wait "$pid"
    code=$?
    t1=$(date +%s%N)
    ms=$(((t1 - t0) / 1000000))
    ((interrupt)) && { checks port-free "$dir/link" >"$dir/port" 2>&1 || why+="port not free: $(tail -1 "$dir/port"); "; }
    ((interrupt && ms > 5000)) && why+="took $ms ms to end after SIGINT; "
    stop_sim
    [[ $code == "$expected_exit" ]] || why+="exit $code, expected $expected_exit; "
    [[ -z $expect ]] || grep -qF -- "$expect" "$dir/out" "$dir/err" || why+="no '$expect'; "
    if [[ -n $stdout_is ]] && [[ $(cat "$dir/out") != "$(printf '%b' "$stdout_is")" ]]; then
      why+="stdout is not exactly '$stdout_is'; "
    fi
    ((json)) && { checks json "$dir/out" "$expected_exit" >"$dir/json" 2>&1 || why+="$(cat "$dir/json"); "; }
    if ((image)) && ! cmp -s "$dir/package/QUARN.bin" "$dir/received.bin"; then
      why+="received image differs from QUARN.bin; "
    fi
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
  --expect "One tester, on $work/list/dev/ttyUSB0." -- --list
run_case list-json-malformed-product 0 --json --devices "$bad_utf8|$other" \
  --expect '"tester":true' -- --list --json
run_case json-success 0 --json --image --sim "--exit-after-completion" \
  --expect '"code":"programmingComplete"' -- --json
run_case json-start-refused 15 --json --sim "--refuse-start" \
  --expect '"code":"startRefused"' -- --json
run_case json-usage-error 1 --json --expect '"code":"usage"' -- --json --bogus
run_case interrupt-text 130 --interrupt --package "--size 200000" --sim "--pace-baud 256000" \
  --expect "update interrupted; the tester may be left in its bootloader" --
run_case interrupt-json 130 --interrupt --json --package "--size 200000" \
  --sim "--pace-baud 256000" --expect '"code":"interrupted"' -- --json

echo "$passed passed, $failed failed"
[[ $failed == 0 ]]
