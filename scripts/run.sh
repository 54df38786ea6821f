#!/usr/bin/env bash
# The main job: an update, with the hardened release build. With a tester connected and
# QUARN_PACKAGE naming the directory of a real firmware package, that tester is updated; otherwise
# a sample package is made and flashed into the simulated tester, and the image it received is
# compared with QUARN.bin (a difference fails the run).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)" --target quarn-update quarn-sim >/dev/null
bin=build/release

if [ -n "${QUARN_PACKAGE:-}" ]; then
  exec "$bin/quarn-update" --package "$QUARN_PACKAGE"
fi
if grep -qs "Zentrika QUARN" /sys/class/tty/*/device/../product /sys/class/tty/*/device/../../product; then
  echo "A Zentrika Quarn tester is connected. The sample package is for the simulated tester"
  echo "only; run again with QUARN_PACKAGE=<directory of QUARN.bin and metadata.json>."
  exit 1
fi

work=$(mktemp -d /tmp/quarn-run.XXXXXX)
sim_pid=""
trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; rm -rf "$work"' EXIT
python3 scripts/make_sample_package.py "$work/package" --size 300000
echo "No tester connected: updating the simulated tester with a 300,000-byte sample package."
"$bin/quarn-sim" --link "$work/tester" --image-out "$work/received.bin" --vanish 300 \
  --pace-baud 256000 --exit-after-completion >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do grep -q '^ready' "$work/sim.out" 2>/dev/null && break; sleep 0.05; done
set +e
"$bin/quarn-update" --port "$work/tester" --package "$work/package"
code=$?
set -e
wait "$sim_pid" 2>/dev/null || true
sim_pid=""
if [ $code = 0 ]; then
  if cmp -s "$work/package/QUARN.bin" "$work/received.bin"; then
    echo "The simulated tester received an image identical to QUARN.bin."
  else
    echo "The image the simulated tester received differs from QUARN.bin."
    code=1
  fi
fi
echo "Windows program: build/windows/QuarnUpdater.exe (cmake --build --preset windows)."
exit $code
