#!/usr/bin/env bash
# Every trace in tests/traces played back as the tester (quarn-sim --replay) to the current
# quarn-update, which must reach the exit code and final line of the trace's .expect (and send
# the start request as many times as its start-requests says, when it says) and, when it
# completes, leave the replayed tester with QUARN.bin byte for byte. A trace whose first
# device-ID request has been edited must stop the replay with that trace line named.
# Usage: trace_replays.sh <directory of the native binaries> <source directory>
set -uo pipefail
bin=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
python=python3
[[ -x /usr/bin/python3 ]] && python=/usr/bin/python3
work=$(mktemp -d /tmp/quarn-replay.XXXXXX)
sim_pid=""
cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
passed=0
failed=0

expect_value() {  # expect_value <file> <key>
  sed -n "s/^$2: //p" "$1" | head -n1
}

# replay <trace> <dir> [usb]: starts the replaying simulator, on a pty behind <dir>/link or as
# the USB view <dir>/usb; sets sim_pid, and host, the arguments and environment that reach it.
replay() {
  local trace=$1 dir=$2 view=${3:-}
  local -a where=(--link "$dir/link")
  host=(--port "$dir/link")
  if [[ $view == usb ]]; then
    where=(--usb-view "$dir/usb")
    host=(env QUARN_SYSFS_ROOT="$dir/usb/sys" QUARN_DEV_ROOT="$dir/usb/dev")
  fi
  "$bin/quarn-sim" --replay "$trace" "${where[@]}" --image-out "$dir/received.bin" \
    --log "$dir/sim.log" >"$dir/sim.out" 2>"$dir/sim.err" &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -q 'ready' "$dir/sim.out" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

# update <dir> <output file>: quarn-update against what replay started
update() {
  if [[ ${host[0]} == env ]]; then
    "${host[@]}" "$bin/quarn-update" --package "$1/package" >"$2" 2>&1
  else
    "$bin/quarn-update" "${host[@]}" --package "$1/package" >"$2" 2>&1
  fi
}

for trace in "$src"/tests/traces/*.jsonl; do
  name=$(basename "$trace" .jsonl)
  expect=${trace%.jsonl}.expect
  dir=$work/$name
  mkdir -p "$dir/package"
  why=""
  if [[ ! -f $expect ]]; then
    why="no $name.expect beside it"
  else
    if [[ -n $(expect_value "$expect" package-dir) ]]; then
      cp "$src/$(expect_value "$expect" package-dir)"/{QUARN.bin,metadata.json} "$dir/package/"
    else
      # shellcheck disable=SC2046
      "$python" "$src/scripts/make_sample_package.py" "$dir/package" \
        $(expect_value "$expect" package)
    fi
    t0=$(date +%s%N)
    if ! replay "$trace" "$dir" "$(expect_value "$expect" view)"; then
      why="the replay did not start: $(cat "$dir/sim.err")"
    else
      update "$dir" "$dir/out"
      code=$?
      ms=$((($(date +%s%N) - t0) / 1000000))
      for _ in $(seq 60); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.05; done
      kill "$sim_pid" 2>/dev/null
      wait "$sim_pid"
      sim_code=$?
      sim_pid=""
      [[ $code == "$(expect_value "$expect" exit)" ]] ||
        why+="exit $code, expected $(expect_value "$expect" exit); "
      final=$(expect_value "$expect" final)
      grep -qF -- "$final" "$dir/out" || why+="no '$final'; "
      grep -q 'replay:' "$dir/sim.err" && why+="$(grep 'replay:' "$dir/sim.err"); "
      [[ $sim_code == 0 || $sim_code == 143 ]] || why+="the replay ended with $sim_code; "
      starts=$(expect_value "$expect" start-requests)
      if [[ -n $starts ]]; then
        sent=$(grep -c 'rx \[3\] FF FF FF' "$dir/sim.log")
        [[ $sent == "$starts" ]] || why+="the start request was sent $sent times, expected $starts; "
      fi
      if [[ $code == 0 ]] && ! cmp -s "$dir/package/QUARN.bin" "$dir/received.bin"; then
        why+="the replayed tester did not receive QUARN.bin; "
      fi
    fi
  fi
  if [[ -z $why ]]; then
    passed=$((passed + 1)); echo "ok   $name (${ms} ms)"
  else
    failed=$((failed + 1)); echo "FAIL $name: $why"
    sed 's/^/  out: /' "$dir/out" 2>/dev/null
    tail -n 3 "$dir/sim.err" 2>/dev/null | sed 's/^/  sim: /'
  fi
done

# An edited record: the host's device-ID request no longer matches it, and the replay says where.
base=$src/tests/traces/clean-update
dir=$work/edited
mkdir -p "$dir/package"
# shellcheck disable=SC2046
"$python" "$src/scripts/make_sample_package.py" "$dir/package" $(expect_value "$base.expect" package)
line=$(grep -n '"hex":"fd' "$base.jsonl" | head -n1 | cut -d: -f1)
sed "${line}s/\"hex\":\"fd\(..\)/\"hex\":\"fd00/" "$base.jsonl" >"$dir/edited.jsonl"
why=""
if cmp -s "$base.jsonl" "$dir/edited.jsonl"; then
  why="the edit changed nothing"
elif ! replay "$dir/edited.jsonl" "$dir"; then
  why="the replay did not start"
else
  update "$dir" "$dir/out"
  wait "$sim_pid"
  sim_code=$?
  sim_pid=""
  [[ $sim_code == 1 ]] || why+="the replay ended with $sim_code, expected 1; "
  grep -q "replay: trace line $line: expected the device-ID request" "$dir/sim.err" ||
    why+="line $line not named: $(cat "$dir/sim.err"); "
fi
if [[ -z $why ]]; then
  passed=$((passed + 1)); echo "ok   edited-device-id-request (line $line named)"
else
  failed=$((failed + 1)); echo "FAIL edited-device-id-request: $why"
fi

echo "$passed passed, $failed failed"
((failed == 0))
