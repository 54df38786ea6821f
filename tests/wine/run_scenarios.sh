#!/usr/bin/env bash
# Runs QuarnUpdater.exe under Wine and Xvfb against the tester simulator, one scenario after
# another, and compares what the user sees (status-log lines and error boxes) with the table below.
#
# Usage: run_scenarios.sh <windows build dir> <native build dir> <source dir>
#   The windows build dir holds QuarnUpdater.exe and tests/wine/*.exe, the native one quarn-sim.
#   QUARN_WINE_ARTIFACTS=<dir> keeps the logs of failed scenarios there (default: a directory
#   wine-artifacts in the windows build dir).
#   QUARN_WINE_ONLY=<regex> runs only the scenarios whose names match (the adapter check is named
#   "adapters"). QUARN_WINE_SHOW_CHECK=1 prints the adapter check's lines even when it passes.
#   QUARN_WINE_APP=<exe> runs that QuarnUpdater.exe instead of the build's (an unpacked release),
#   QUARN_WINE_README=<file> puts that file as ReadMe.txt into the current directory of every
#   scenario that names no --readme of its own (the release's ReadMe.txt).
#
# One Wine prefix serves the whole run: the fixture registers the stand-in testers of each device
# set and clears them again, so only the sets, not the scenarios, cost a registry change.
set -euo pipefail

windows_build=$(cd "$1" && pwd)
native_build=$(cd "$2" && pwd)
source_dir=$(cd "$3" && pwd)

app_exe=${QUARN_WINE_APP:-$windows_build/QuarnUpdater.exe}
default_readme=${QUARN_WINE_README:-}
helpers=$windows_build/tests/wine
sim=$native_build/quarn-sim
artifacts=${QUARN_WINE_ARTIFACTS:-$windows_build/wine-artifacts}
[[ -n ${QUARN_WINE_ARTIFACTS:-} ]] || rm -rf "$artifacts"  # only the default one is ours to empty
for needed in "$app_exe" ${default_readme:+"$default_readme"} \
  "$helpers/quarn-wine-fixture.exe" "$helpers/quarn-wine-driver.exe" \
  "$helpers/quarn-wine-adapter-check.exe" "$sim"; do
  [[ -f $needed ]] || { echo "missing: $needed (build the windows and native presets)" >&2; exit 1; }
done

failures=()
passed=0
# shellcheck source=tests/wine/wine_env.sh
source "$source_dir/tests/wine/wine_env.sh"
# shellcheck source=tests/wine/soak_sessions.sh
source "$source_dir/tests/wine/soak_sessions.sh"

# --- one scenario -------------------------------------------------------------------------------
# run_scenario <name> [options] <<'EOF' <expected driver output> EOF
#   --sim "<options>"      simulator options (default: a well-behaved tester)
#   --package "<options>"  make_sample_package.py options (default --size 3000)
#   --readme <text|none>   ReadMe.txt in the current directory, printf %b text (default Version 3.8,
#                          or a copy of $QUARN_WINE_README)
#   --deep                 put the program and its package in a folder over 300 characters deep
#   --between "<command>"  run two sessions; the command changes the scene in between
#   --image                the simulator must have received exactly QUARN.bin
#   --driver "<options>"   more UI driver options (--watch-caption, say)
#   --within S / --at-least S   the first session (PROGRAM press to PROGRAM enabled) takes at
#                          most / at least S seconds
#   --exit-during MS       press Exit MS ms after the PROGRAM press, while the session runs
#   --mid-transfer         the tester must have stored some blocks but no complete image
# The program's own folder also holds a decoy ReadMe.txt (Version 5.5): the banner reads the
# current directory's, which is never the program's folder here.
run_scenario() {
  local name=$1
  shift
  local sim_options="" package_options="--size 3000" readme='Version 3.8\r\nQuarn tester firmware\r\n'
  local deep=0 between="" check_image=0 driver_options="" readme_given=0
  local within="" at_least="" exit_during="" mid_transfer=0
  while (($#)); do
    case $1 in
      --sim) sim_options=$2; shift 2 ;;
      --package) package_options=$2; shift 2 ;;
      --readme) readme=$2; readme_given=1; shift 2 ;;
      --deep) deep=1; shift ;;
      --between) between=$2; shift 2 ;;
      --image) check_image=1; shift ;;
      --driver) driver_options=$2; shift 2 ;;
      --within) within=$2; shift 2 ;;
      --at-least) at_least=$2; shift 2 ;;
      --exit-during) exit_during=$2; shift 2 ;;
      --mid-transfer) mid_transfer=1; shift ;;
      *) echo "run_scenario $name: unknown option $1" >&2; exit 2 ;;
    esac
  done
  local expected
  expected=$(cat)
  [[ $name =~ ${QUARN_WINE_ONLY:-.} ]] || return 0
  local started=$SECONDS
  local dir=$work/s/$name
  local exe_dir=$dir/program cwd=$dir/cwd
  if ((deep)); then
    exe_dir=$dir/$(printf 'folder-%02d-of-a-deep-tree/' $(seq 1 12))program
  fi
  mkdir -p "$exe_dir" "$cwd"
  cp "$app_exe" "$exe_dir/"
  local -a package_args sim_args
  read -r -a package_args <<<"$package_options"
  read -r -a sim_args <<<"$sim_options"
  make_package "$exe_dir" "${package_args[@]}"
  printf 'Version 5.5\r\n' >"$exe_dir/ReadMe.txt"
  if [[ -n $default_readme && $readme_given == 0 ]]; then
    cp "$default_readme" "$cwd/ReadMe.txt"
  elif [[ $readme != none ]]; then
    printf '%b' "$readme" >"$cwd/ReadMe.txt"
  fi

  start_sim "$dir" "${sim_args[@]}"
  (cd "$cwd" && exec wine "$exe_dir/QuarnUpdater.exe" </dev/null >"$dir/app.log" 2>&1) &
  app_pid=$!
  local -a driver_args=("$(windows_path "$dir/seen.txt")" --exit --timeout 90)
  [[ -n $between ]] && driver_args+=(--sessions 2 --handshake "$(windows_path "$dir")")
  local -a more_driver_args
  read -r -a more_driver_args <<<"$driver_options"
  driver_args+=("${more_driver_args[@]}")
  driver_args+=(--times "$(windows_path "$dir/times.txt")")
  [[ -n $exit_during ]] && driver_args+=(--exit-during "$exit_during")
  winrun 240 "$helpers/quarn-wine-driver.exe" "${driver_args[@]}" >"$dir/driver.log" 2>&1 &
  local driver_pid=$!
  local problems=""
  if [[ -n $between ]]; then
    if wait_for 120 test -e "$dir/between-1"; then
      eval "$between"
      touch "$dir/go-1"
    else
      problems+="the driver never reached the second session; "
    fi
  fi
  wait "$driver_pid" || problems+="driver exit status $?; "

  await_app_exit
  problems+=$app_exit_problems
  stop_sim
  if ((check_image)) && ! cmp -s "$exe_dir/QUARN.bin" "$dir/received.bin"; then
    problems+="the tester did not receive QUARN.bin; "
  fi
  problems+=$(session_time_problems "$dir/times.txt" "$within" "$at_least")
  if ((mid_transfer)) && ! grep -Eq ' [1-9][0-9]* blocks stored, images good 0 bad 0' "$dir/sim.err"; then
    problems+="Exit was not pressed in the middle of the transfer ($(tail -1 "$dir/sim.err")); "
  fi

  if ! diff -u <(printf '%s\n' "$expected") "$dir/seen.txt" >"$dir/diff.txt" 2>&1; then
    problems+="what the user saw differs; "
  fi
  local session_ms
  session_ms=$(first_session_ms "$dir/times.txt")
  if [[ -z $problems ]]; then
    printf 'ok    %-28s %3d s%s\n' "$name" $((SECONDS - started)) \
      "${session_ms:+  (session 1: $session_ms ms)}"
    passed=$((passed + 1))
  else
    printf 'FAIL  %-28s %3d s  %s\n' "$name" $((SECONDS - started)) "$problems"
    cat "$dir/diff.txt"
    failures+=("$name")
    mkdir -p "$artifacts"
    rm -rf "${artifacts:?}/$name"
    cp -r "$dir" "$artifacts/$name"
    rm -f "$artifacts/$name"/{program,cwd}/QuarnUpdater.exe
  fi
}

# first_session_ms <times file>: the first session's length as the driver measured it.
first_session_ms() { tr -d '\r' <"$1" 2>/dev/null | sed -n 's/^session 1: \([0-9]*\) ms$/\1/p'; }

# session_time_problems <times file> <most seconds or ""> <least seconds or "">: what is wrong
# with the first session's length, if anything.
session_time_problems() {
  local file=$1 most=$2 least=$3
  [[ -z $most && -z $least ]] && return 0
  local ms
  ms=$(first_session_ms "$file")
  if [[ -z $ms ]]; then
    printf 'no session time; '
  elif [[ -n $most ]] && ((ms > most * 1000)); then
    printf 'session took %d ms, more than %d s; ' "$ms" "$most"
  elif [[ -n $least ]] && ((ms < least * 1000)); then
    printf 'session took only %d ms, less than %d s; ' "$ms" "$least"
  fi
}

# --- many sessions in one process ---------------------------------------------------------------
soak_row() {  # soak_row <sessions> <first checkpoint>, with the "main" device set registered
  local name=soak-$1 started=$SECONDS
  [[ $name =~ ${QUARN_WINE_ONLY:-.} ]] || return 0
  soak_devices_now=main
  if run_soak "$1" "$2"; then
    printf 'ok    %-28s %3d s\n' "$name" $((SECONDS - started))
    passed=$((passed + 1))
  else
    printf 'FAIL  %-28s %3d s\n' "$name" $((SECONDS - started))
    failures+=("$name")
    mkdir -p "$artifacts"
    rm -rf "${artifacts:?}/$name"
    cp -r "$work/s/$name" "$artifacts/$name"
    rm -f "$artifacts/$name/program/QuarnUpdater.exe"
  fi
}

# --- the adapters on their own ------------------------------------------------------------------
adapter_check() {
  [[ adapters =~ ${QUARN_WINE_ONLY:-.} ]] || return 0
  local dir=$work/s/adapters
  mkdir -p "$dir"
  printf 'twelve bytes' >"$dir/file.bin"
  # A slow line (a 63-byte block takes 131 ms) makes the unplug at block 0 fall inside the wait
  # for its acknowledgement.
  start_sim "$dir" --unplug-at-block 0 --pace-baud 4800
  # COM8: a pty whose other end stops its output with an XOFF once flow control is on.
  python3 "$source_dir/tests/wine/xoff_pty.py" "$dir/xoff" >"$dir/xoff.out" 2>&1 &
  local xoff_pid=$!
  wait_for 10 grep -q ready "$dir/xoff.out" || true
  ln -sfn "$dir/xoff" "$WINEPREFIX/dosdevices/com8"
  local status=0
  winrun 60 "$helpers/quarn-wine-adapter-check.exe" '\\.\COM7' "$(windows_path "$dir/file.bin")" \
    '\\.\COM8' >"$dir/check.log" 2>&1 || status=$?
  [[ -n ${QUARN_WINE_SHOW_CHECK:-} ]] && cat "$dir/check.log"
  kill "$xoff_pid" 2>/dev/null; wait "$xoff_pid" 2>/dev/null || true
  rm -f "$WINEPREFIX/dosdevices/com8"
  stop_sim
  # The device list as the adapter reads it: the "main" set, registered just before.
  local listed
  listed=$(tr -d '\r' <"$dir/check.log" | grep '^device ' | cut -d: -f2- | LC_ALL=C sort || true)
  local want=$' id yes | - | USB Serial Device (COM3)\n id yes | Zentrika QUARN | Zentrika QUARN Tester (COM7)'
  if ((status == 0)) && [[ $listed == "$want" ]]; then
    echo "ok    adapters"
    passed=$((passed + 1))
  else
    echo "FAIL  adapters (exit status $status$( ((status == 124)) && echo ', timed out'))"
    cat "$dir/check.log"
    failures+=(adapters)
  fi
}

# ================================================================================================
# The scenario table. Each device set is registered once; its scenarios follow it.
# ================================================================================================

devices "main" \
  "Zentrika QUARN" "Zentrika QUARN Tester (COM7)" SIM0001 \
  - "USB Serial Device (COM3)" OTHER01

adapter_check

run_scenario success --package "--size 30000" --image --sim "--exit-after-completion" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
line: Burning in Progress.\n Do not unplug.\n
line: Programming complete.\n
end 1: PROGRAM enabled
EOF

# A recorded session played back as the tester (tests/traces): the window program reaches the
# same end as the command line did, and the replayed tester holds the image.
run_scenario replayed-trace --package "--size 3000 --seed 21" --image \
  --sim "--replay $source_dir/tests/traces/clean-update.jsonl" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
line: Burning in Progress.\n Do not unplug.\n
line: Programming complete.\n
end 1: PROGRAM enabled
EOF

# Banner: the version text is the three bytes from the first digit 1 to 8; a 9 never starts it.
run_scenario firmware-missing --readme 'v9.1\r\nrest of the file\r\n' \
  --package "--no-image" <<'EOF'
start
line: VIVozezur Version: 1\r\n\n
session 1
line: Zentrika QUARN found\n
box: Failed to find firmware file.
end 1: PROGRAM enabled
EOF

# Banner: no ReadMe.txt in the current directory (the decoy beside the program does not count).
run_scenario metadata-missing --readme none --package "--no-metadata" <<'EOF'
start
line: Error reading version from ReadMe.txt\n
line: VIVozezur Version: ?\n
session 1
line: Zentrika QUARN found\n
box: Failed to find metadata file.
end 1: PROGRAM enabled
EOF

run_scenario metadata-not-json --package "--metadata-text {\"QUARN\":" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
box: Failed to extract metadata file.
end 1: PROGRAM enabled
EOF

run_scenario size-mismatch --package "--size 3000 --wrong-size" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
box: Failed to validate firmware (fw_size mismatch)
end 1: PROGRAM enabled
EOF

# Deep folder: the package is found beside a program whose path is over 300 characters long.
run_scenario crc-mismatch-deep-folder --deep --package "--size 3000 --wrong-crc" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
box: Failed to validate firmware (crc32 mismatch)
end 1: PROGRAM enabled
EOF

run_scenario version-mismatch --package "--size 3000 --version 3.8 --g0-version 3.7" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
box: Failed to validate firmware (version mismatch)
end 1: PROGRAM enabled
EOF

run_scenario no-device-id --sim "--no-device-id" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
line: Burning in Progress.\n Do not unplug.\n
box: Failed to retrieve Device ID.
end 1: PROGRAM enabled
EOF

run_scenario signature-rejected --sim "--reject-signature" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
line: Burning in Progress.\n Do not unplug.\n
box: App Signiture Mismatch.
end 1: PROGRAM enabled
EOF

run_scenario start-refused --sim "--refuse-start" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
line: Burning in Progress.\n Do not unplug.\n
box: Please unplug and reconnect the tester and try again.
end 1: PROGRAM enabled
EOF

run_scenario block-wrong-number --sim "--wrong-block 1" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
line: Burning in Progress.\n Do not unplug.\n
box: 1 Failed to program firmware.
end 1: PROGRAM enabled
EOF

run_scenario block-no-reply --sim "--drop-block-ack 1:4" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
line: Burning in Progress.\n Do not unplug.\n
box: 2 Failed to program firmware.
end 1: PROGRAM enabled
EOF

run_scenario completion-00 --sim "--completion 00" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
line: Burning in Progress.\n Do not unplug.\n
line: G0 FW update failed.\n
end 1: PROGRAM enabled
EOF

run_scenario completion-01 --sim "--completion 01" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
line: Burning in Progress.\n Do not unplug.\n
line: FW crc32 check failed.\n
end 1: PROGRAM enabled
EOF

# The tester takes seconds to check the image and update its G0: a verdict 8 s after the last
# acknowledgement is still shown.
run_scenario completion-after-8-s --at-least 8 --sim "--completion-delay 8000" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
line: Burning in Progress.\n Do not unplug.\n
line: Programming complete.\n
end 1: PROGRAM enabled
EOF

# A slow tester is not a failed one (issue 16): a start reply 8 s late (a bootloader erasing its
# flash) is taken at the first start request, and a verdict written in the same piece as the last
# acknowledgement is read with it and kept.
run_scenario start-reply-after-8-s --at-least 8 --image \
  --sim "--hold-reply start:8000 --exit-after-completion" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
line: Burning in Progress.\n Do not unplug.\n
line: Programming complete.\n
end 1: PROGRAM enabled
EOF

run_scenario verdict-behind-last-ack --within 10 --image \
  --sim "--completion-with-ack --exit-after-completion" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
line: Burning in Progress.\n Do not unplug.\n
line: Programming complete.\n
end 1: PROGRAM enabled
EOF

# No completion reply: after the completion wait's minute the session ends without a final line,
# and PROGRAM is usable again (the one slow row of the table).
run_scenario no-completion-reply --at-least 60 --within 75 --sim "--silent-at completion" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
line: Burning in Progress.\n Do not unplug.\n
end 1: PROGRAM enabled
EOF

# The tester is unplugged in the middle of the transfer: the session must still end on its own.
run_scenario unplugged-during-transfer --within 10 --sim "--unplug-at-block 10" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
line: Burning in Progress.\n Do not unplug.\n
box: 2 Failed to program firmware.
end 1: PROGRAM enabled
EOF

# The title counts the transfer up and is plain again after the end, on a success and on an
# unplug. The simulator keeps the tester's line rate, so the blocks take a few seconds.
run_scenario caption-success --package "--size 60000" --image --driver "--watch-caption" \
  --sim "--pace-baud 256000 --exit-after-completion" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
line: Burning in Progress.\n Do not unplug.\n
line: Programming complete.\n
end 1: PROGRAM enabled
caption: 3 or more rising percentages, then the plain title
EOF

run_scenario caption-unplugged --package "--size 60000" --driver "--watch-caption" \
  --sim "--pace-baud 256000 --unplug-at-block 600" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
line: Burning in Progress.\n Do not unplug.\n
box: 2 Failed to program firmware.
end 1: PROGRAM enabled
caption: 3 or more rising percentages, then the plain title
EOF

# Unplugged during the restart pause, the tester never comes back: the reopening asks for COM7
# until its bound, 10 s after the pause, and fails. The ceiling was 10 s before that wait.
run_scenario unplugged-during-restart-pause --within 16 --at-least 12 --sim "--unplug-at bootloader" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
line: Burning in Progress.\n Do not unplug.\n
line: Failed to open \\\\.\\COM7\n
end 1: PROGRAM enabled
EOF

# Unplugged when the device-ID request arrives: every attempt goes unanswered, and the session
# ends long before three reply bounds have passed.
run_scenario unplugged-before-device-id --within 10 --sim "--unplug-at device-id" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
line: Burning in Progress.\n Do not unplug.\n
box: Failed to retrieve Device ID.
end 1: PROGRAM enabled
EOF

# Exit in the middle of a paced transfer (the 12000-byte image takes about 14 s at 9600 baud):
# the worker is still sending blocks from the image buffer when the program ends, and it must
# end by itself with exit code 0.
run_scenario exit-during-transfer --package "--size 12000" --sim "--pace-baud 9600" \
  --exit-during 6000 --mid-transfer <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
line: Burning in Progress.\n Do not unplug.\n
exit pressed during session 1
EOF

# The tester comes back from its restart, its COM7 present again, 5 s after the request: 2 s
# after the pause, which the second opening waits out.
run_scenario reopen-after-5-s --image --at-least 5 --sim "--vanish 5000 --exit-after-completion" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
line: Burning in Progress.\n Do not unplug.\n
line: Programming complete.\n
end 1: PROGRAM enabled
EOF

# The tester comes back from its restart too late for the second opening: 15 s after the
# request, past the 3 s pause and the 10 s the second opening waits (the vanish must exceed 13 s).
run_scenario reopen-fails --within 16 --at-least 12 --sim "--vanish 15000" <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
line: Burning in Progress.\n Do not unplug.\n
line: Failed to open \\\\.\\COM7\n
end 1: PROGRAM enabled
EOF

# A failed session, then the missing image is put in place and PROGRAM pressed again: the second
# session's lines follow the first's, and the package is read afresh.
run_scenario second-session-after-failure --package "--size 3000 --no-image" --image \
  --between 'make_package "$exe_dir" --size 3000' <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
box: Failed to find firmware file.
end 1: PROGRAM enabled
session 2
line: Zentrika QUARN found\n
line: Burning in Progress.\n Do not unplug.\n
line: Programming complete.\n
end 2: PROGRAM enabled
EOF

# Thirty sessions of the soak's mix in one process (tests/wine/soak.sh runs 300 by hand): every
# outcome as its kind says, and the same handle count after sessions 10 and 30.
soak_row 30 10

# A second matching device without a port name is reported but not counted; the one tester's
# port is mapped to nothing.
devices "unopenable port" \
  "Zentrika QUARN" "Zentrika QUARN Tester (COM9)" SIM0001 \
  "Zentrika QUARN" "Zentrika QUARN Tester" SIM0002

run_scenario port-cannot-be-opened <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
line: Zentrika QUARN found\n
line: Failed to open \\\\.\\COM9\n
end 1: PROGRAM enabled
EOF

devices "no parentheses" "Zentrika QUARN" "Zentrika QUARN Tester" SIM0001

run_scenario matching-device-without-port <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
line: Zentrika QUARN found\n
box: No Zentrika Quarn device detected.\nYou may need to plug in (or install) USB devices.\n
end 1: PROGRAM enabled
EOF

# The second tester's description carries the match text in the middle and is longer than a
# 100-character line.
long_description="Zentrika Instruments USB PD analyser, model Zentrika QUARN with bootloader support, second unit on the bench"
devices "two testers" \
  "Zentrika QUARN" "Zentrika QUARN Tester (COM7)" SIM0001 \
  "$long_description" "Zentrika QUARN Tester (COM8)" SIM0002

run_scenario two-testers <<EOF
start
line: VIVozezur Version: 3.8\\n
session 1
line: Zentrika QUARN found\\n
line: $long_description found\\n
box: This application only supports 1 connected Quarn device.\\nYou need to remove USB devices.\\n
end 1: PROGRAM enabled
EOF

# Ports that do not match: the text in lower case, and a port without a bus-reported description.
devices "no tester" \
  "zentrika quarn" "Zentrika QUARN Tester (COM7)" SIM0001 \
  - "USB Serial Device (COM3)" OTHER01

run_scenario no-tester <<'EOF'
start
line: VIVozezur Version: 3.8\n
session 1
box: No Zentrika Quarn device detected.\nYou may need to plug in (or install) USB devices.\n
end 1: PROGRAM enabled
EOF

echo "$passed passed, ${#failures[@]} failed, total $((SECONDS - run_start)) s"
if ((${#failures[@]})); then
  echo "FAILED: ${failures[*]} (logs in $artifacts)"
  exit 1
fi
echo "all scenarios passed"
