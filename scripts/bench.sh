#!/usr/bin/env bash
# The updater's benchmark: the block phase of an update against the tester simulator, for a
# minimal native client (the floor), quarn-update and QuarnUpdater.exe under Wine, unpaced and
# paced at the tester's line rate, all in one run. Prints a table per run and, with --runs N, the
# medians. See "Benchmark" in README.md for what the figures mean.
#
# Usage: bash scripts/bench.sh [options]
#   --exe PATH             the Windows program to measure (default build/windows/QuarnUpdater.exe)
#   --runs N               repeat the whole table N times (default 1)
#   --unpaced-blocks N     blocks of the unpaced image (default 5000)
#   --paced-blocks N       blocks of the paced image (default 1000)
#   --release-build DIR    quarn-update, quarn-sim and the floor client (default build/release)
#   --windows-build DIR    the Wine helpers and the default exe (default build/windows)
#   --no-build             use the build directories as they are (default: build them first)
# QUARN_BENCH_VERBOSE=1 also prints which processes each row watched and, for the Windows
# program, how the CPU figure splits between the program and wineserver.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)

exe=""
runs=1
unpaced_blocks=5000
paced_blocks=1000
pace_baud=256000
release_build=$source_dir/build/release
windows_build=$source_dir/build/windows
build=1
while (($#)); do
  case $1 in
    --exe) exe=$(realpath "$2"); shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --unpaced-blocks) unpaced_blocks=$2; shift 2 ;;
    --paced-blocks) paced_blocks=$2; shift 2 ;;
    --release-build) release_build=$(realpath "$2"); shift 2 ;;
    --windows-build) windows_build=$(realpath "$2"); shift 2 ;;
    --no-build) build=0; shift ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done

# A build directory that is not configured yet gets the preset's configuration.
build_preset() {  # build_preset <preset> <directory>
  [[ -f $2/build.ninja ]] || cmake --preset "$1" -B "$2" >/dev/null
  cmake --build "$2" -j2 >/dev/null
}
if ((build)); then
  (cd "$source_dir" && bash scripts/setup.sh >/dev/null && build_preset release "$release_build" &&
    build_preset windows "$windows_build") || { echo "bench.sh: the build failed" >&2; exit 1; }
fi
exe=${exe:-$windows_build/QuarnUpdater.exe}
helpers=$windows_build/tests/wine
sim=$release_build/quarn-sim
floor=$release_build/bench/quarn-bench-floor
cli=$release_build/quarn-update
for needed in "$exe" "$helpers/quarn-wine-driver.exe" "$helpers/quarn-wine-fixture.exe" \
  "$sim" "$floor" "$cli"; do
  [[ -f $needed ]] || { echo "bench.sh: missing $needed" >&2; exit 1; }
done

# shellcheck source=tests/wine/wine_env.sh
source "$source_dir/tests/wine/wine_env.sh"
devices "bench" "Zentrika QUARN" "Zentrika QUARN Tester (COM7)" SIM0001
results=$work/results.tsv
: >"$results"

# Starts the row's client against the simulator's port; the block phase is measured meanwhile.
# Leaves the client's pid in client_pid and the options that name its processes in watch.
start_client() {  # start_client <row> <dir>
  local row=$1 dir=$2
  case $row in
    floor)
      "$floor" "$work/tester" "$dir/program/QUARN.bin" >"$dir/client.log" 2>&1 &
      client_pid=$!
      watch=(--pid "$client_pid") ;;
    quarn-update)
      "$cli" --port "$work/tester" --package "$dir/program" >"$dir/client.log" 2>&1 &
      client_pid=$!
      watch=(--pid "$client_pid") ;;
    quarn-update-trace)
      "$cli" --port "$work/tester" --package "$dir/program" --trace "$dir/trace.jsonl" \
        >"$dir/client.log" 2>&1 &
      client_pid=$!
      watch=(--pid "$client_pid") ;;
    exe)
      (cd "$dir" && exec wine "$dir/program/QuarnUpdater.exe" </dev/null >"$dir/app.log" 2>&1) &
      app_pid=$!
      winrun 240 "$helpers/quarn-wine-driver.exe" "$(windows_path "$dir/seen.txt")" --exit \
        --timeout 90 >"$dir/client.log" 2>&1 &
      client_pid=$!
      # Under Wine the serial time-outs run in wineserver: its CPU is the program's too.
      watch=(--wine QuarnUpdater --wine wineserver) ;;
  esac
}

measure() {  # measure <run> <row> <baud, 0 for unpaced> <blocks>
  local run=$1 row=$2 baud=$3 blocks=$4
  local pace=unpaced dir=$work/b/$run-$row-$baud
  ((baud)) && pace="$baud baud"
  mkdir -p "$dir/program"
  [[ $row == exe ]] && cp "$exe" "$dir/program/QuarnUpdater.exe"
  make_package "$dir/program" --size $((blocks * 60))
  local -a pacing=()
  ((baud)) && pacing=(--pace-baud "$baud")
  start_sim "$dir" "${pacing[@]}"
  start_client "$row" "$dir"
  local figures status=0
  figures=$("$python" "$source_dir/bench/block_phase.py" --log "$dir/sim.log" --blocks "$blocks" \
    --timeout 120 "${watch[@]}" 2>"$dir/phase.err") || status=$?
  wait "$client_pid" || status=$?
  if [[ $row == exe ]]; then
    wait_for 20 eval '! kill -0 "$app_pid" 2>/dev/null' || kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    app_pid=
  fi
  stop_sim
  grep -q 'image complete: .* good' "$dir/sim.log" || status=1
  if ((status == 0)); then
    printf '%s\t%s\t%s\t%s\t%s\n' "$run" "$row" "$pace" "$blocks" "${figures// /$'\t'}" >>"$results"
  else
    printf '%s\t%s\t%s\t%s\tFAILED\n' "$run" "$row" "$pace" "$blocks" >>"$results"
    echo "bench.sh: $row ($pace) failed; its logs:" >&2
    tail -n 5 "$dir"/{client.log,phase.err,sim.err} >&2 2>/dev/null || true
  fi
  if [[ -n ${QUARN_BENCH_VERBOSE:-} ]]; then
    echo "$row ($pace): $(tr "\n" " " <"$dir/phase.err")" >&2
  fi
}

echo "exe: $exe"
for ((run = 1; run <= runs; run++)); do
  echo "run $run: $(uptime | sed 's/.*load average/load average/')"
  for row in floor quarn-update quarn-update-trace exe; do
    measure "$run" "$row" 0 "$unpaced_blocks"
  done
  for row in floor quarn-update quarn-update-trace exe; do
    measure "$run" "$row" "$pace_baud" "$paced_blocks"
  done
done
echo
"$python" "$source_dir/bench/bench_table.py" "$results"
! grep -q FAILED "$results"
