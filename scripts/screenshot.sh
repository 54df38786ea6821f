#!/usr/bin/env bash
# Takes a screenshot of QuarnUpdater.exe's main window under Wine on a private X display.
#
#   scripts/screenshot.sh [options]
#     --exe PATH        the program (default: build/app/QuarnUpdater.exe, else build/windows/...)
#     --prefix DIR      Wine prefix to use; default: a fresh one, deleted afterwards. The prefix's
#                       wineserver is ended at the end (wineserver -k), so give one nobody else uses.
#     --workdir DIR     the program's current directory (default: a temporary one). A ReadMe.txt
#                       is written there unless one exists; --readme FILE copies that one instead.
#     --readme FILE     ReadMe.txt to place in the current directory
#     --no-readme       leave the current directory without ReadMe.txt (the banner's failure line)
#     --before CMD      shell command run once the window is up, before the shot (a UI driver
#                       pressing PROGRAM, say). It sees WINEPREFIX, DISPLAY and QUARN_WORKDIR;
#                       a plain "wine driver.exe ..." runs on the program's desktop and is waited for.
#     --settle SECONDS  pause after the window appeared (and after --before) (default: 2)
#     --whole-screen    keep the whole desktop instead of cropping to the main window
#     --size WxH        size of the Wine desktop and the X screen (default: 800x600)
#     --out FILE        where the PNG goes (default: docs/screenshot.png)
#
# Every Wine program of the run shares one Wine virtual desktop, so Wine draws the window frame
# and caption itself as Windows would (without a window manager there would be none), and a
# driver started with plain "wine" finds the window. The desktop is chosen in the prefix's
# registry for the run; a prefix given with --prefix gets its previous choice back at the end.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
exe=""
prefix=""
workdir=""
readme=""
no_readme=0
before=""
settle=2
whole_screen=0
size=800x600
out="$repo/docs/screenshot.png"
window_title="Quarn Firmware Updater"
desktop_name=quarnshot

usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit "${1:-0}"; }

while [ $# -gt 0 ]; do
  case "$1" in
    --exe) exe=$2; shift 2 ;;
    --prefix) prefix=$2; shift 2 ;;
    --workdir) workdir=$2; shift 2 ;;
    --readme) readme=$2; shift 2 ;;
    --no-readme) no_readme=1; shift ;;
    --before) before=$2; shift 2 ;;
    --settle) settle=$2; shift 2 ;;
    --whole-screen) whole_screen=1; shift ;;
    --size) size=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    -h|--help) usage 0 ;;
    *) echo "screenshot: unknown option $1" >&2; usage 2 ;;
  esac
done

if [ -z "$exe" ]; then
  for candidate in "$repo/build/app/QuarnUpdater.exe" "$repo/build/windows/QuarnUpdater.exe"; do
    if [ -f "$candidate" ]; then exe=$candidate; break; fi
  done
fi
[ -n "$exe" ] && [ -f "$exe" ] || { echo "screenshot: QuarnUpdater.exe not found; build the windows preset or pass --exe" >&2; exit 1; }
exe=$(cd "$(dirname "$exe")" && pwd)/$(basename "$exe")
for tool in wine wineserver Xvfb xwininfo import; do
  command -v "$tool" >/dev/null || { echo "screenshot: $tool is missing" >&2; exit 1; }
done

scratch=$(mktemp -d /tmp/quarn-screenshot.XXXXXX)
fresh_prefix=0
if [ -z "$prefix" ]; then prefix=$scratch/prefix; fresh_prefix=1; fi
[ -n "$workdir" ] || workdir=$scratch/run
mkdir -p "$workdir" "$(dirname "$out")"
workdir=$(cd "$workdir" && pwd)

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=""
app_pid=""

explorer_key='HKCU\Software\Wine\Explorer'
previous_desktop=""
desktop_chosen=0

# The value of Desktop under the Explorer key, empty when there is none.
current_desktop() {
  wine reg query "$explorer_key" /v Desktop >"$scratch/desktop.txt" 2>/dev/null || true
  tr -d '\r' <"$scratch/desktop.txt" |
    awk '$1 == "Desktop" && $2 == "REG_SZ" { $1 = ""; $2 = ""; sub(/^ +/, ""); print; exit }'
}

choose_desktop() {
  previous_desktop=$(current_desktop)
  wine reg add "$explorer_key\Desktops" /v "$desktop_name" /d "$size" /f >/dev/null 2>&1
  wine reg add "$explorer_key" /v Desktop /d "$desktop_name" /f >/dev/null 2>&1
  desktop_chosen=1
}

restore_desktop() {
  [ "$desktop_chosen" = 1 ] && [ "$fresh_prefix" = 0 ] || return 0
  wine reg delete "$explorer_key\Desktops" /v "$desktop_name" /f >/dev/null 2>&1 || true
  if [ -n "$previous_desktop" ]; then
    wine reg add "$explorer_key" /v Desktop /d "$previous_desktop" /f >/dev/null 2>&1 || true
  else
    wine reg delete "$explorer_key" /v Desktop /f >/dev/null 2>&1 || true
  fi
}

cleanup() {
  restore_desktop
  # Ends the wineserver of this prefix and with it every Wine process started here.
  [ -d "$WINEPREFIX" ] && wineserver -k >/dev/null 2>&1 || true
  if [ -n "$app_pid" ]; then wait "$app_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$scratch"  # a fresh prefix lives in here; a given one does not
}
trap cleanup EXIT

# Our own X server; -displayfd makes it pick a free display number and tell us which.
Xvfb -displayfd 5 -screen 0 "${size}x24" -nolisten tcp 5>"$scratch/display" \
  >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$scratch/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { echo "screenshot: Xvfb did not start" >&2; cat "$scratch/xvfb.log" >&2; exit 1; }
  sleep 0.1
done
[ -s "$scratch/display" ] || { echo "screenshot: Xvfb gave no display number" >&2; exit 1; }
export DISPLAY=":$(tr -d '[:space:]' <"$scratch/display")"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "screenshot: making Wine prefix $WINEPREFIX"
  wineboot -i >"$scratch/wineboot.log" 2>&1
  wineserver -w
fi

if [ "$no_readme" = 1 ]; then
  rm -f "$workdir/ReadMe.txt"
elif [ -n "$readme" ]; then
  cp "$readme" "$workdir/ReadMe.txt"
elif [ ! -f "$workdir/ReadMe.txt" ]; then
  printf 'Quarn Updater\r\nVersion 3.8\r\n' >"$workdir/ReadMe.txt"
fi

# Wine output goes to a file: its helper processes would hold a pipe open.
choose_desktop
(cd "$workdir" && exec wine "$exe" >"$scratch/wine.log" 2>&1) &
app_pid=$!

# "WxH+x+y  +absx+absy" of the main window, as the X server sees it. While blocks go out the
# title starts with the percentage sent ("42% - Quarn Firmware Updater").
window_geometry() {
  xwininfo -root -tree 2>/dev/null | awk -v title="\"([0-9]+% - )?$window_title\":" '
    $0 ~ title { for (i = 1; i <= NF; i++) if ($i ~ /^[0-9]+x[0-9]+[+-]/) { g = $i; a = $(i + 1) }
                       split(g, p, "[+]"); print p[1] a; exit }'
}

geometry=""
for _ in $(seq 600); do
  geometry=$(window_geometry)
  [ -n "$geometry" ] && break
  sleep 0.1
done
[ -n "$geometry" ] || { echo "screenshot: the main window did not appear within 60 s" >&2; cat "$scratch/wine.log" >&2; exit 1; }
sleep "$settle"

if [ -n "$before" ]; then
  QUARN_WORKDIR=$workdir bash -c "$before"
  sleep "$settle"
  geometry=$(window_geometry)
  [ -n "$geometry" ] || { echo "screenshot: the main window is gone after --before" >&2; exit 1; }
fi

if [ "$whole_screen" = 1 ]; then
  import -window root "$out"
else
  import -window root -crop "$geometry" +repage "$out"
fi
echo "screenshot: $out (main window $geometry, display $DISPLAY)"
