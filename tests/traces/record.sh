#!/usr/bin/env bash
# Records the traces of this folder anew from the simulator's fault modes, with the quarn-update
# and quarn-sim of a build: each NAME.jsonl with its NAME.expect (the package it was recorded
# with, and the exit code and final line that quarn-update must reach when it is replayed).
# A .expect says what the current program must reach: when a trace records a fault that has
# been mended since, edit its .expect to the mended outcome rather than recording it again.
# Usage: tests/traces/record.sh <directory of the native binaries> [NAME...]
set -euo pipefail
bin=$(cd "$1" && pwd)
shift
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
work=$(mktemp -d /tmp/quarn-record.XXXXXX)
trap 'rm -rf "$work"' EXIT

# record <name> <package options> <exit> <final line> <sim options...>
# With view=usb before it, the tester is the simulator's USB view and quarn-update finds it by
# discovery, as on a Linux host.
record() {
  local name=$1 package=$2 expected=$3 final=$4
  shift 4
  if [[ -n ${only:-} && " $only " != *" $name "* ]]; then return 0; fi
  local dir=$work/$name
  mkdir -p "$dir/package"
  # shellcheck disable=SC2086
  python3 "$src/scripts/make_sample_package.py" "$dir/package" $package
  local -a where=(--link "$dir/link") port=(--port "$dir/link") env=()
  if [[ ${view:-} == usb ]]; then
    where=(--usb-view "$dir/usb")
    port=()
    env=(QUARN_SYSFS_ROOT="$dir/usb/sys" QUARN_DEV_ROOT="$dir/usb/dev")
  fi
  "$bin/quarn-sim" "${where[@]}" "$@" >"$dir/sim.out" 2>"$dir/sim.err" &
  local sim=$!
  for _ in $(seq 100); do grep -q 'ready' "$dir/sim.out" && break; sleep 0.05; done
  local code=0
  env "${env[@]}" "$bin/quarn-update" "${port[@]}" --package "$dir/package" \
    --trace "$here/$name.jsonl" >"$dir/out" 2>&1 || code=$?
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  if [[ $code != "$expected" ]] || ! grep -qF -- "$final" "$dir/out"; then
    echo "record.sh: $name ended with exit $code:" >&2
    cat "$dir/out" >&2
    return 1
  fi
  printf 'package: %s\nexit: %s\nfinal: %s\n' "$package" "$expected" "$final" >"$here/$name.expect"
  [[ ${view:-} == usb ]] && echo "view: usb" >>"$here/$name.expect"
  echo "recorded $name ($(wc -l <"$here/$name.jsonl") lines)"
}

only="$*"
record clean-update "--size 3000 --seed 21" 0 "Programming complete." --exit-after-completion
# The tester's first two device-ID replies are lost; it answers the third request.
record device-id-retried "--size 600 --seed 22" 0 "Programming complete." \
  --drop-reply 1 --drop-reply 2 --exit-after-completion
record slow-completion "--size 600 --seed 23" 0 "Programming complete." \
  --completion-delay 8000 --exit-after-completion
record block-fourth-sending "--size 600 --seed 24" 0 "Programming complete." \
  --drop-block-ack 3:3 --exit-after-completion
record unplug-mid-transfer "--size 3000 --seed 25" 18 "2 Failed to program firmware." \
  --unplug-at block:20
# A tester that takes 8 s before its start reply (a real bootloader may erase its flash first).
record start-reply-after-8-s "--size 600 --seed 27" 0 "Programming complete." \
  --hold-reply start:8000 --exit-after-completion
# Block 4's acknowledgement comes 5.5 s late: the block is sent again and the late answer taken.
record late-block-ack "--size 600 --seed 28" 0 "Programming complete." \
  --hold-reply block:4:5500 --exit-after-completion
# The bootloader comes back as ttyACM1, the old node still held, with another product string and
# serial number, 1.5 s after the request.
view=usb record bootloader-another-node "--size 3000 --seed 26" 0 "Programming complete." \
  --vanish 1500 --bootloader-product "Zentrika QUARN Bootloader" --bootloader-serial QB0001 \
  --exit-after-completion
