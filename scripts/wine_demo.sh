#!/usr/bin/env bash
# Watch the Windows program update the simulated tester under Wine.
#
#   scripts/wine_demo.sh               opens QuarnUpdater.exe on your display ($DISPLAY): press
#                                      PROGRAM and watch; close the window to end the demo
#   scripts/wine_demo.sh --screenshot FILE
#                                      runs on a private Xvfb display instead, presses PROGRAM
#                                      with the UI driver and saves the window after the update
#   scripts/wine_demo.sh --screenshot FILE --mid-transfer
#                                      the same, but saves the window while the blocks go out,
#                                      once its title shows 40 % or more
#
# It builds both presets, keeps a Wine prefix in build/wine-demo/prefix (made once, about 700 MB),
# registers one stand-in tester ("Zentrika QUARN", "USB Serial Device (COM7)") there, maps COM7 to
# quarn-sim's pseudo-terminal and puts the program with a 100,000-byte sample package into
# build/wine-demo/program. The simulator runs at the tester's line rate, 256000 baud.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
screenshot=""
mid_transfer=0
while [ $# -gt 0 ]; do
  case "$1" in
    --screenshot) screenshot=$(realpath -m "${2:?--screenshot needs a file}"); shift 2 ;;
    --mid-transfer) mid_transfer=1; shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "wine_demo: unknown option $1" >&2; exit 2 ;;
  esac
done
if [ "$mid_transfer" = 1 ] && [ -z "$screenshot" ]; then
  echo "wine_demo: --mid-transfer goes with --screenshot FILE" >&2
  exit 2
fi
if [ -z "$screenshot" ] && [ -z "${DISPLAY:-}" ]; then
  echo "wine_demo: no DISPLAY; use --screenshot FILE to run on a private display" >&2
  exit 2
fi

cd "$repo"
bash scripts/setup.sh
cmake --preset native >/dev/null && cmake --build --preset native -j"$(nproc)" --target quarn-sim >/dev/null
cmake --preset windows >/dev/null && cmake --build --preset windows -j"$(nproc)" >/dev/null

demo=$repo/build/wine-demo
export WINEPREFIX=$demo/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$demo/program" "$demo/cwd"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine_demo: making the Wine prefix (once)"
  wineboot -i >"$demo/wineboot.log" 2>&1 </dev/null
  wineserver -w
fi
# Wine draws captions and the close box with these fonts only once they are in the prefix's
# font folder; without them the close box shows a plain letter and texts fall back to bitmaps.
cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
fixture=build/windows/tests/wine/quarn-wine-fixture.exe
wine "$fixture" clear >"$demo/fixture.log" 2>&1 </dev/null
wine "$fixture" add "Zentrika QUARN" "USB Serial Device (COM7)" DEMO0001 >>"$demo/fixture.log" 2>&1 </dev/null
ln -sfn "$demo/tester" "$WINEPREFIX/dosdevices/com7"

cp build/windows/QuarnUpdater.exe "$demo/program/"
python3 scripts/make_sample_package.py "$demo/program" --size 100000
printf 'Version 3.8\r\n' >"$demo/cwd/ReadMe.txt"

sim_pid=""
trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wineserver -k 2>/dev/null || true' EXIT
build/native/quarn-sim --link "$demo/tester" --image-out "$demo/received.bin" --vanish 300 \
  --pace-baud 256000 >"$demo/sim.out" 2>"$demo/sim.err" &
sim_pid=$!
for _ in $(seq 100); do grep -q '^ready' "$demo/sim.out" 2>/dev/null && break; sleep 0.05; done

if [ -n "$screenshot" ]; then
  driver=$repo/build/windows/tests/wine/quarn-wine-driver.exe
  driver_options="--timeout 120"
  settle=2
  if [ "$mid_transfer" = 1 ]; then driver_options="--leave-at-percent 40"; settle=0.5; fi
  bash scripts/screenshot.sh --prefix "$WINEPREFIX" --exe "$demo/program/QuarnUpdater.exe" \
    --workdir "$demo/cwd" --out "$screenshot" --settle "$settle" \
    --before "wine '$driver' 'Z:${demo//\//\\}\\seen.txt' $driver_options >'$demo/driver.log' 2>&1"
  cat "$demo/seen.txt"
else
  (cd "$demo/cwd" && wine "$demo/program/QuarnUpdater.exe" >"$demo/app.log" 2>&1 </dev/null)
fi
if cmp -s "$demo/program/QUARN.bin" "$demo/received.bin"; then
  echo "wine_demo: the simulated tester received an image identical to QUARN.bin"
fi
