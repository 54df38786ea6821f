# Shared by the scripts that run the Windows programs under Wine against the tester simulator
# (the scenario table, the console program's cases, the soak and the benchmark). Sourced after
# the caller has set:
#   helpers  directory of the Wine test helpers (quarn-wine-fixture.exe and the rest)
#   sim      the native quarn-sim
#   source_dir
# It starts Xvfb and makes one Wine prefix in a private work directory (removed on exit), maps
# COM7 to the link the simulator keeps pointing at its pty, and offers winrun, wait_for,
# windows_path, make_package, start_sim/stop_sim, await_app_exit and devices. The caller may set
# app_pid to a process that the clean-up must end.
python=python3
[[ -x /usr/bin/python3 ]] && python=/usr/bin/python3

work=$(mktemp -d /tmp/quarn-wine.XXXXXX)
export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=
sim_pid=
app_pid=
run_start=$SECONDS

cleanup() {
  [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null || true
  [[ -n $sim_pid ]] && kill -TERM "$sim_pid" 2>/dev/null || true
  wineserver -k >/dev/null 2>&1 || true
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Wine's processes keep inherited pipes open, so everything Wine prints goes to files.
# Every Wine program gets a time bound: a fault that blocks must fail the run, not hang it.
winrun() {  # winrun <seconds> <program> <arguments...>
  local seconds=$1
  shift
  timeout -k 5 "$seconds" wine "$@" </dev/null
}
windows_path() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }
make_package() { "$python" "$source_dir/scripts/make_sample_package.py" "$@" >/dev/null; }

wait_for() {  # wait_for <seconds> <command...>: polls every 50 ms until the command succeeds
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.05
  done
}

# --- display and prefix -------------------------------------------------------------------------
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_for 20 test -s "$work/display" || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(head -n1 "$work/display")

echo "creating the Wine prefix..."
timeout -k 5 180 wineboot -i >"$work/wineboot.log" 2>&1 </dev/null
wineserver -w
wineserver -p >/dev/null 2>&1
# Xvfb runs no window manager, and Wine waits 2 s for one whenever a managed window is hidden (every
# error box that OK closes). Unmanaged windows are hidden at once.
winrun 60 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
echo "prefix ready after $((SECONDS - run_start)) s"

# The tester's port: \\.\COM7 resolves through this link to the link the simulator keeps pointing
# at its current pty. COM9 is named by a device but mapped to nothing.
ln -sfn "$work/tester" "$WINEPREFIX/dosdevices/com7"
rm -f "$WINEPREFIX/dosdevices/com9"

# --- simulator ----------------------------------------------------------------------------------
start_sim() {  # start_sim <scenario dir> <simulator options...>
  local dir=$1
  shift
  "$sim" --link "$work/tester" --image-out "$dir/received.bin" --log "$dir/sim.log" "$@" \
    >"$dir/sim.out" 2>"$dir/sim.err" &
  sim_pid=$!
  wait_for 10 grep -q '^ready ' "$dir/sim.out" || { echo "quarn-sim did not start" >&2; return 1; }
}

stop_sim() {  # leaves the simulator's exit status in sim_status
  sim_status=0
  kill -0 "$sim_pid" 2>/dev/null && kill -TERM "$sim_pid" 2>/dev/null
  wait "$sim_pid" || sim_status=$?
  sim_pid=
}

# --- the program's end ---------------------------------------------------------------------------
# await_app_exit: Exit was pressed, so the program ($app_pid) must end by itself within 20 s, with
# exit code 0. Leaves what went wrong in app_exit_problems (empty when nothing did).
await_app_exit() {
  app_exit_problems=""
  if wait_for 20 eval '! kill -0 "$app_pid" 2>/dev/null'; then
    local app_status=0
    wait "$app_pid" || app_status=$?
    ((app_status == 0)) || app_exit_problems="program exit code $app_status; "
  else
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    app_exit_problems="program still running after Exit; "
  fi
  app_pid=
}

# --- device sets --------------------------------------------------------------------------------
devices() {  # devices <name> [<description> <friendly name> <instance suffix>]...
  local name=$1
  shift
  echo "device set: $name"
  if ! winrun 60 "$helpers/quarn-wine-fixture.exe" clear >"$work/fixture.log" 2>&1 ||
    ! { (($# == 0)) || winrun 60 "$helpers/quarn-wine-fixture.exe" add "$@" >>"$work/fixture.log" 2>&1; }; then
    echo "the fixture could not register device set $name:" >&2
    cat "$work/fixture.log" >&2
    exit 1
  fi
}
