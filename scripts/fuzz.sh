#!/usr/bin/env bash
# Builds the fuzz harnesses (clang-14, libFuzzer, ASan, UBSan) and runs them.
#
#   bash scripts/fuzz.sh --check [harness...]     fixed, reproducible budget (-seed=1 -runs=N) from
#                                                 the seeds alone; what the test command runs
#   bash scripts/fuzz.sh --minutes M [harness...] M minutes each, one after the other, growing a
#                                                 kept corpus in build/fuzz/corpus/<harness>
#
# Without harness names every harness runs. A crash leaves its input in build/fuzz/artifacts/ and
# makes the script fail; replay it with build/fuzz/tests/fuzz/<harness> <file>.
set -euo pipefail
cd "$(dirname "$0")/.."

# harness                 check runs  extra flags
harness_table=(
  "metadata_fuzzer          900000"
  "reply_parsers_fuzzer     7000000"
  "readme_version_fuzzer    10000000    -max_len=80"
  "sim_receive_fuzzer       550000"
  "device_product_fuzzer    110000"
)

mode="" minutes=0
case "${1:-}" in
  --check) mode=check ;;
  --minutes) mode=long; minutes=${2:?--minutes needs a number}; shift ;;
  *) echo "usage: $0 --check | --minutes M [harness...]" >&2; exit 2 ;;
esac
shift
wanted=("$@")

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2
build=build/fuzz
seeds=$build/seeds
python3 tests/fuzz/make_seeds.py "$seeds"
mkdir -p "$build/artifacts" "$build/logs"

selected() {
  [ ${#wanted[@]} -eq 0 ] && return 0
  local w
  for w in "${wanted[@]}"; do [ "$w" = "$1" ] && return 0; done
  return 1
}

failed=0
for row in "${harness_table[@]}"; do
  read -r name runs extra <<<"$row"
  selected "$name" || continue
  log=$build/logs/$name.log
  if [ $mode = check ]; then
    # New inputs go to a scratch directory, so every check starts from the same seeds; without
    # the once-a-second corpus reload the same seed gives the same run.
    corpus=$(mktemp -d)
    budget=(-seed=1 "-runs=$runs" -reload=0)
  else
    corpus=$build/corpus/$name
    mkdir -p "$corpus"
    budget=("-max_total_time=$((minutes * 60))")
  fi
  start=$(date +%s)
  status=0
  # shellcheck disable=SC2086  # extra holds zero or more flags
  "$build/tests/fuzz/$name" "${budget[@]}" $extra -timeout=10 -print_final_stats=1 \
    "-artifact_prefix=$build/artifacts/$name-" "$corpus" "$seeds/$name" >"$log" 2>&1 || status=$?
  seconds=$(($(date +%s) - start))
  [ $mode = check ] && rm -rf "$corpus"
  if [ $status -ne 0 ]; then
    echo "fuzz: $name FAILED after ${seconds}s (exit $status); log: $log"
    grep -E "ERROR|property broken|Test unit written" "$log" | head -n 5 || true
    failed=1
    continue
  fi
  final=$(grep -E "^#[0-9]+\s+DONE" "$log" | tail -n 1)
  rate=$(awk '/^stat::average_exec_per_sec:/{print $2}' "$log")
  echo "fuzz: $name ok in ${seconds}s, ${rate:-?} exec/s: ${final:-no final line}"
done
exit $failed
