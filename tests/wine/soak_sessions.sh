# The soak: many sessions in one QuarnUpdater.exe process, driven through its window, in a mix of
# successes, every failure that ends quickly, and unplugs. After each session the driver counts the
# program's handles in the system handle table and reads its resident memory; the run is flat when
# the handle count is the same at both checkpoints and resident memory grew by at most 2 MB.
#
# Sourced after wine_env.sh by tests/wine/soak.sh (300 sessions, by hand) and by run_scenarios.sh
# (30 sessions in the test command); the caller sets app_exe as well.

soak_memory_slack_kb=2048

# What the user sees, abbreviated in the table below.
soak_found='line: Zentrika QUARN found\n'
soak_burning='line: Burning in Progress.\n Do not unplug.\n'
soak_open_failed='line: Failed to open \\\\.\\COM7\n'

# One kind of session a row: name | device set | simulator options ("-": no simulator, so the
# port cannot be opened) | package options | what the user sees, facts separated by ";", with
# F for the found line, B for the burning line and O for the failed opening. The mix comes round
# every 20 sessions, so every kind has run once by the checkpoint after session 20. The
# unplugged-during-pause kind lasts about 13 s since the second opening waits up to 10 s after the
# pause for the tester (it took 3 s before); the driver's 90 s per session and the 120 s between
# sessions still cover it, so no bound of the soak had to be raised for it.
soak_kinds=(
  "success|main||--size 3000|F;B;line: Programming complete.\n"
  "firmware-missing|main||--no-image|F;box: Failed to find firmware file."
  "metadata-missing|main||--no-metadata|F;box: Failed to find metadata file."
  "metadata-not-json|main||--metadata-text {\"QUARN\":|F;box: Failed to extract metadata file."
  "size-mismatch|main||--wrong-size|F;box: Failed to validate firmware (fw_size mismatch)"
  "crc-mismatch|main||--wrong-crc|F;box: Failed to validate firmware (crc32 mismatch)"
  "version-mismatch|main||--g0-version 3.7|F;box: Failed to validate firmware (version mismatch)"
  "port-not-opened|main|-||F;O"
  "unplugged-during-pause|main|--unplug-at bootloader||F;B;O"
  "unplugged-before-device-id|main|--unplug-at device-id||F;B;box: Failed to retrieve Device ID."
  "signature-rejected|main|--reject-signature||F;B;box: App Signiture Mismatch."
  "no-signature-verdict|main|--malformed signature||F;B;box: App Signiture Failed."
  "start-refused|main|--refuse-start||F;B;box: Please unplug and reconnect the tester and try again."
  "block-wrong-number|main|--wrong-block 1||F;B;box: 1 Failed to program firmware."
  "unplugged-mid-transfer|main|--unplug-at block:25||F;B;box: 2 Failed to program firmware."
  "completion-00|main|--completion 00||F;B;line: G0 FW update failed.\n"
  "completion-01|main|--completion 01||F;B;line: FW crc32 check failed.\n"
  "unplugged-awaiting-verdict|main|--unplug-at completion||F;B"
  "two-testers|two testers|||F;line: Zentrika QUARN second unit found\n;box: This application only supports 1 connected Quarn device.\nYou need to remove USB devices.\n"
  "no-tester|no tester|||box: No Zentrika Quarn device detected.\nYou may need to plug in (or install) USB devices.\n"
)

soak_devices_now=""

soak_use_devices() {  # soak_use_devices <set name>: registers the set unless it is in place
  local name=$1
  [[ $name == "$soak_devices_now" ]] && return 0
  case $name in
    main) devices "main" "Zentrika QUARN" "Zentrika QUARN Tester (COM7)" SIM0001 \
      - "USB Serial Device (COM3)" OTHER01 ;;
    "two testers") devices "two testers" "Zentrika QUARN" "Zentrika QUARN Tester (COM7)" SIM0001 \
      "Zentrika QUARN second unit" "Zentrika QUARN Tester (COM8)" SIM0002 ;;
    "no tester") devices "no tester" - "USB Serial Device (COM3)" OTHER01 ;;
  esac
  soak_devices_now=$name
}

# soak_scene <session number> <program dir> <run dir> <expected file>: sets up the scene of that
# session's kind (devices, package, simulator) and appends what the user will see.
soak_scene() {
  local number=$1 exe_dir=$2 dir=$3 expected=$4
  local row=${soak_kinds[$(((number - 1) % ${#soak_kinds[@]}))]}
  local name devices_name sim_options package_options facts
  IFS='|' read -r name devices_name sim_options package_options facts <<<"$row"
  [[ -n $sim_pid ]] && stop_sim
  soak_use_devices "$devices_name"
  local -a package_args sim_args
  read -r -a package_args <<<"$package_options"
  rm -f "$exe_dir/QUARN.bin" "$exe_dir/metadata.json"
  make_package "$exe_dir" --size 3000 "${package_args[@]}"
  if [[ $sim_options != - ]]; then
    read -r -a sim_args <<<"$sim_options"
    start_sim "$dir" "${sim_args[@]}"
  fi
  printf 'session %d\n' "$number" >>"$expected"
  local fact
  local -a fact_list
  IFS=';' read -r -a fact_list <<<"$facts"
  for fact in "${fact_list[@]}"; do
    case $fact in
      F) fact=$soak_found ;;
      B) fact=$soak_burning ;;
      O) fact=$soak_open_failed ;;
    esac
    printf '%s\n' "$fact" >>"$expected"
  done
  printf 'end %d: PROGRAM enabled\n' "$number" >>"$expected"
  echo "$number $name" >>"$dir/kinds.txt"
}

# soak_figure <figures file> <session> <field>: the figure the driver wrote after that session.
soak_figure() {
  tr -d '\r' <"$1" | sed -n "s/^session $2: .*$3 \\([0-9]*\\).*/\\1/p"
}

# run_soak <sessions> <first checkpoint>: runs the soak, prints its figures, and fails when an
# outcome differs, the handle count moved between the checkpoints, or memory grew too much.
run_soak() {
  local sessions=$1 checkpoint=$2
  local dir=$work/s/soak-$sessions
  local exe_dir=$dir/program cwd=$dir/cwd expected=$dir/expected.txt
  mkdir -p "$exe_dir" "$cwd"
  cp "$app_exe" "$exe_dir/"
  printf 'Version 3.8\r\n' >"$cwd/ReadMe.txt"
  printf 'start\nline: VIVozezur Version: 3.8\\n\n' >"$expected"
  : >"$dir/kinds.txt"
  local started=$SECONDS
  soak_scene 1 "$exe_dir" "$dir" "$expected"

  (cd "$cwd" && exec wine "$exe_dir/QuarnUpdater.exe" </dev/null >"$dir/app.log" 2>&1) &
  app_pid=$!
  winrun $((sessions * 60 + 120)) "$helpers/quarn-wine-driver.exe" "$(windows_path "$dir/seen.txt")" \
    --exit --timeout 90 --sessions "$sessions" --handshake "$(windows_path "$dir")" \
    --figures "$(windows_path "$dir/figures.txt")" >"$dir/driver.log" 2>&1 &
  local driver_pid=$!
  local problems="" number
  for ((number = 1; number < sessions; number++)); do
    if ! wait_for 120 test -e "$dir/between-$number"; then
      problems+="the driver never finished session $number; "
      break
    fi
    soak_scene $((number + 1)) "$exe_dir" "$dir" "$expected"
    touch "$dir/go-$number"
  done
  wait "$driver_pid" || problems+="driver exit status $?; "
  await_app_exit
  problems+=$app_exit_problems
  [[ -n $sim_pid ]] && stop_sim

  diff -u "$expected" "$dir/seen.txt" >"$dir/diff.txt" 2>&1 || problems+="what the user saw differs; "
  local figures=$dir/figures.txt
  local handles_first handles_last resident_first resident_last
  handles_first=$(soak_figure "$figures" "$checkpoint" handles)
  handles_last=$(soak_figure "$figures" "$sessions" handles)
  resident_first=$(soak_figure "$figures" "$checkpoint" resident)
  resident_last=$(soak_figure "$figures" "$sessions" resident)
  if [[ -z $handles_first || -z $handles_last || -z $resident_first || -z $resident_last ]]; then
    problems+="figures missing; "
  else
    ((handles_first == handles_last)) ||
      problems+="handles $handles_first after session $checkpoint, $handles_last after $sessions; "
    ((resident_last - resident_first <= soak_memory_slack_kb)) ||
      problems+="resident memory grew by $((resident_last - resident_first)) KB; "
  fi
  grep -q 'worker still running' "$figures" 2>/dev/null && problems+="a worker outlived its session; "

  printf 'soak %d sessions in %d s: handles %s after session %d, %s after session %d; ' \
    "$sessions" $((SECONDS - started)) "${handles_first:-?}" "$checkpoint" "${handles_last:-?}" \
    "$sessions"
  printf 'resident %s KB and %s KB\n' "${resident_first:-?}" "${resident_last:-?}"
  [[ -z $problems ]] && return 0
  echo "soak problems: $problems"
  head -40 "$dir/diff.txt"
  return 1
}
