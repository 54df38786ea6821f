#!/usr/bin/env bash
# quarn-update.exe under Wine against the tester simulator, the way the window program is tested
# (stand-in testers registered with the device installer, COM7 mapped to the simulator's pty):
# an update, no tester, two testers, --check, --list (with the USB identity the fixture
# registered), --serial and --location, --json (every line parsed) and Ctrl-C.
# Usage: wine_cli.sh <directory of the native binaries> <source directory>
# Builds the windows preset (or uses $QUARN_WINDOWS_BUILD); exits 77 (skipped) only when Wine is
# not installed.
set -euo pipefail
native_build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
windows_build=${QUARN_WINDOWS_BUILD:-$source_dir/build/windows}

# shellcheck source=tests/wine/windows_build.sh
source "$source_dir/tests/wine/windows_build.sh"
prepare_windows_build "$source_dir" "$windows_build"
windows_build=$(cd "$windows_build" && pwd)

cli_exe=$windows_build/quarn-update.exe
helpers=$windows_build/tests/wine
sim=$native_build/quarn-sim
failures=()
passed=0
# shellcheck source=tests/wine/wine_env.sh
source "$source_dir/tests/wine/wine_env.sh"

cli_checks=$source_dir/tests/e2e/lib/cli_checks.py
# shellcheck source=tests/e2e/lib/cli_cases.sh
source "$source_dir/tests/e2e/lib/cli_cases.sh"

# run_cli <name> <expected exit> [options] -- <quarn-update.exe arguments>
# The options are those of read_case_options (tests/e2e/lib/cli_cases.sh), but for --devices:
# the device sets are registered for several rows at once below. --interrupt sends SIGINT, which
# Wine turns into the console's CTRL_C_EVENT. The program runs in the package's directory; an
# argument @PACKAGE@ stands for that directory as a Windows path, and the program then runs in
# its parent instead.
run_cli() {
  local name=$1 expected_exit=$2
  shift 2
  local devices package sim_options expect stdout_is json events image interrupt signal case_args
  read_case_options "$name" "$@"
  local dir=$work/cli/$name started=$SECONDS
  local cwd=$dir/package
  mkdir -p "$cwd"
  local -a package_args sim_args arguments=()
  read -r -a package_args <<<"$package"
  read -r -a sim_args <<<"$sim_options"
  make_package "$cwd" "${package_args[@]}"
  local argument
  for argument in "${case_args[@]}"; do
    if [[ $argument == @PACKAGE@ ]]; then
      argument=$(windows_path "$dir/package")
      cwd=$dir
    fi
    arguments+=("$argument")
  done

  local why="" code=0
  start_sim "$dir" --vanish 300 "${sim_args[@]}"
  (cd "$cwd" && exec timeout -k 5 120 wine "$cli_exe" "${arguments[@]}" </dev/null \
    >"$dir/out" 2>"$dir/err") &
  local pid=$! interrupted_at=0
  if ((interrupt)); then
    await_first_block "$dir/sim.log" || why+="no block ever arrived; "
    interrupted_at=$SECONDS
    kill -"$signal" "$pid"
  fi
  wait "$pid" || code=$?
  if ((interrupt)); then
    ((SECONDS - interrupted_at <= 10)) || why+="took $((SECONDS - interrupted_at)) s after Ctrl-C; "
    judge_port_free "$work/tester"
  fi
  stop_sim
  judge_run "$dir" "$code" "$expected_exit"
  if [[ -z $why ]]; then
    printf 'ok    %-28s %3d s\n' "$name" $((SECONDS - started))
    passed=$((passed + 1))
  else
    printf 'FAIL  %-28s %3d s  %s\n' "$name" $((SECONDS - started)) "$why"
    sed 's/^/  out: /' "$dir/out" | head -20
    grep -v '^0x' "$dir/err" | sed 's/^/  err: /' | head -20
    failures+=("$name")
  fi
}

devices "main" \
  "Zentrika QUARN" "Zentrika QUARN Tester (COM7)" SIM0001 \
  - "USB Serial Device (COM3)" OTHER01

# locate <instance suffix> <location path> <location information>: where the device sits.
locate() {
  winrun 60 "$helpers/quarn-wine-fixture.exe" locate "$@" >>"$work/fixture.log" 2>&1 ||
    { echo "the fixture could not locate $1:" >&2; cat "$work/fixture.log" >&2; exit 1; }
}
usb2='PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)'
usb3='PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)'
# The tester with its location paths; the other port with only the older location information.
locate SIM0001 "$usb2" "Port_#0002.Hub_#0001"
locate OTHER01 - "Port_#0003.Hub_#0001"

run_cli list-json-identity 0 --json \
  --event '{"event":"device","port":"COM7","tester":true,"vid":"1209","pid":"0001","serial":"SIM0001","location":"'"$usb2"'"}' \
  --event '{"event":"device","port":"COM3","tester":false,"serial":"OTHER01","location":"Port_#0003.Hub_#0001"}' \
  -- --list --json
run_cli update-from-current-dir 0 --image --sim "--exit-after-completion" \
  --expect "Programming complete." --
run_cli check-good 0 --expect "The package passes the check" -- --check
run_cli check-bad-crc 10 --package "--size 3000 --wrong-crc" \
  --expect "Quarn Updater: Error: Failed to validate firmware (crc32 mismatch)" \
  -- --check --package @PACKAGE@
run_cli list 0 --expect "One tester, on COM7." -- --list
run_cli json-success-device-path 0 --json --image --sim "--exit-after-completion" \
  --expect '"code":"programmingComplete"' -- --json --port '\\.\COM7'
run_cli json-start-refused 15 --json --sim "--refuse-start" --expect '"code":"startRefused"' \
  -- --json
run_cli interrupt 130 --interrupt --package "--size 200000" --sim "--pace-baud 256000" \
  --expect "update interrupted; the tester may be left in its bootloader" --

devices "two testers" \
  "Zentrika QUARN" "Zentrika QUARN Tester (COM7)" SIM0001 \
  "Zentrika QUARN second unit" "Zentrika QUARN Tester (COM8)" SIM0002

locate SIM0001 "$usb2" -
locate SIM0002 "$usb3" -

run_cli two-testers 4 --expect "Zentrika QUARN second unit found" --
# Serial numbers compare without regard to case: Windows upper-cases them in instance IDs.
run_cli pick-serial 0 --json --image --sim "--exit-after-completion" \
  --event '{"event":"tester","port":"COM7","serial":"SIM0001","location":"'"$usb2"'"}' \
  --event '{"event":"result","code":"programmingComplete","port":"COM7","serial":"SIM0001"}' \
  -- --json --serial sim0001
run_cli pick-location-no-match 3 --json --expect "no tester has location" \
  --event '{"event":"error","code":"noMatchingTester"}' \
  -- --json --location 'PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(9)'

devices "no tester" \
  "zentrika quarn" "Zentrika QUARN Tester (COM7)" SIM0001 \
  - "USB Serial Device (COM3)" OTHER01

run_cli no-tester 3 --expect "Quarn Updater: Error: No Zentrika Quarn device detected." --
run_cli list-json-no-tester 3 --json --expect '"port":"COM3"' -- --list --json

echo "$passed passed, ${#failures[@]} failed, total $((SECONDS - run_start)) s"
if ((${#failures[@]})); then
  echo "FAILED: ${failures[*]}"
  exit 1
fi
