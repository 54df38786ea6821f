#!/usr/bin/env bash
# quarn-update against quarn-sim on a pseudo-terminal: images of several sizes arrive byte for
# byte, a slow and a missing completion verdict are waited for as long as the tester may take,
# and a silent tester, a refused start and an unplug at every stage end with their own report and
# exit code in bounded time.
# Usage: cli_update.sh <directory of the native binaries> <source directory>
#   QUARN_E2E_ONLY=<regex> runs only the cases whose names match (a release or a packaged binary
#   is checked with one update).
set -uo pipefail
bin=$1
src=$2
# shellcheck source=tests/e2e/lib/sim_control.sh
source "$src/tests/e2e/lib/sim_control.sh"
work=$(mktemp -d /tmp/quarn-e2e.XXXXXX)
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
passed=0
failed=0

# run_case <name> <image size> <expected exit> <expected report> <sim options...>
# The session must take less than $ceiling_ms (default 15000) and at least $floor_ms (default 0);
# set them for one row by prefixing it: ceiling_ms=5000 run_case ...
run_case() {
  local name=$1 size=$2 expected_exit=$3 expected_report=$4; shift 4
  [[ $name =~ ${QUARN_E2E_ONLY:-.} ]] || return 0
  local dir="$work/$name"
  mkdir -p "$dir/package"
  python3 "$src/scripts/make_sample_package.py" "$dir/package" --size "$size" --seed "$size"
  local ok=1 why=""
  if start_sim "$dir" "$@"; then
    local t0 t1
    t0=$(date +%s%N)
    "$bin/quarn-update" --port "$dir/link" --package "$dir/package" >"$dir/out" 2>"$dir/err"
    local code=$?
    t1=$(date +%s%N)
    local ms=$(( (t1 - t0) / 1000000 ))
    stop_sim
    [ "$code" = "$expected_exit" ] || { ok=0; why="exit $code, expected $expected_exit"; }
    grep -qF -- "$expected_report" "$dir/out" "$dir/err" || { ok=0; why="$why; no '$expected_report'"; }
    if [ "$expected_exit" = 0 ] && ! cmp -s "$dir/package/QUARN.bin" "$dir/received.bin"; then
      ok=0; why="$why; received image differs from QUARN.bin"
    fi
    [ "$ms" -lt "${ceiling_ms:-15000}" ] || { ok=0; why="$why; took $ms ms"; }
    [ "$ms" -ge "${floor_ms:-0}" ] || { ok=0; why="$why; took only $ms ms"; }
  else
    ok=0; why="simulator did not start"
  fi
  if [ $ok = 1 ]; then
    passed=$((passed + 1)); echo "ok   $name (${ms} ms)"
  else
    failed=$((failed + 1)); echo "FAIL $name: $why"
    sed 's/^/  out: /' "$dir/out" 2>/dev/null; sed 's/^/  err: /' "$dir/err" 2>/dev/null
    tail -5 "$dir/sim.err" 2>/dev/null | sed 's/^/  sim: /'
  fi
}

run_case empty-image        0       0  "Programming complete." --exit-after-completion
run_case one-byte           1       0  "Programming complete." --exit-after-completion
run_case one-block          60      0  "Programming complete." --exit-after-completion
run_case block-and-a-byte   61      0  "Programming complete." --exit-after-completion
run_case three-blocks       130     0  "Programming complete." --exit-after-completion --vanish 300
# A --port path with parentheses is opened as it is, not cut at the first "(".
run_case "path-(rev-B)"     130     0  "Programming complete." --exit-after-completion
run_case one-megabyte       1048576 0  "Programming complete." --exit-after-completion
run_case silent-tester      130     12 "Quarn Updater: Error: Failed to retrieve Device ID." --silent-at device-id
run_case start-refused      130     15 "Quarn Updater: Error: Please unplug and reconnect the tester and try again." --refuse-start
run_case unplug-mid-block   6000    18 "Quarn Updater: Error: 2 Failed to program firmware." --unplug-at-block 5

# The tester checks the whole image and updates its G0 before it gives its verdict, which takes
# seconds: one 8 s later still counts. A verdict that never comes ends the session without a final
# line once the completion wait's minute is over (the one slow row).
floor_ms=8000 run_case completion-after-8-s 600 0 "Programming complete." \
  --exit-after-completion --completion-delay 8000
floor_ms=60000 ceiling_ms=70000 run_case no-completion-reply 600 2 "Burning in Progress." \
  --silent-at completion

# The tester vanishes at every stage of the exchange. Each session must end with that step's
# report well before a reply bound could end it: the 3 s restart pause plus one 2.5 s reply bound
# is more than the ceiling, so a vanished port noticed only when a wait runs out fails the row.
# The 600-byte image takes blocks 0 to 9. Vanished during the pause, the tester is waited for
# up to the second opening's bound, 10 s after the pause: that row's ceiling is 16 s (raised from
# 5 s with that wait) and its floor 12.5 s.
while IFS='|' read -r stage point code report floor ceiling <&3; do
  floor_ms=${floor:-0} ceiling_ms=${ceiling:-5000} run_case "unplug-$stage" 600 "$code" "$report" \
    --unplug-at "$point"
done 3<<'EOF'
during-restart-pause|bootloader|5|Failed to open|12500|16000
before-device-id-reply|device-id|12|Quarn Updater: Error: Failed to retrieve Device ID.
before-signature-verdict|signature|14|Quarn Updater: Error: App Signiture Failed.
before-start-reply|start|16|Quarn Updater: Error: Failed to program firmware.
at-block-0|block:0|18|Quarn Updater: Error: 2 Failed to program firmware.
at-middle-block|block:5|18|Quarn Updater: Error: 2 Failed to program firmware.
at-last-block|block:9|18|Quarn Updater: Error: 2 Failed to program firmware.
awaiting-completion-verdict|completion|2|Burning in Progress.
EOF

echo "$passed passed, $failed failed"
[ "$failed" = 0 ] && [ "$passed" -gt 0 ]
