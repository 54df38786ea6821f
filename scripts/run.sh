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
# The simulator plays the host's USB view of the tester: a sysfs tree and device nodes under
# $work/usb as Linux and udev keep them. quarn-update finds the tester there as it would on a
# real host (no --port), and after the restart finds the bootloader again at the same USB
# location, under the new node the kernel gave it while the old one was still held.
"$bin/quarn-sim" --usb-view "$work/usb" --image-out "$work/received.bin" \
  --pace-baud 256000 --exit-after-completion >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do grep -q '^usb-view ready' "$work/sim.out" 2>/dev/null && break; sleep 0.05; done
echo "The simulated tester (in $work/usb): $(sed -n 's/^quarn-sim: tester at \([^ ]*\) is \([^ ]*\) .*/\2 at USB location \1/p' "$work/sim.err")"
set +e
QUARN_SYSFS_ROOT="$work/usb/sys" QUARN_DEV_ROOT="$work/usb/dev" \
  "$bin/quarn-update" --package "$work/package"
code=$?
set -e
wait "$sim_pid" 2>/dev/null || true
sim_pid=""
echo "After its restart the tester came back as \
$(sed -n 's/^quarn-sim: bootloader at \([^ ]*\) is \([^ ]*\) .*/\2 at USB location \1/p' "$work/sim.err")."
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
