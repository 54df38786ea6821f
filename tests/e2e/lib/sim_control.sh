# Sourced by the Linux end-to-end scripts (after they have set bin, the directory of quarn-sim):
# starts the tester simulator on a pty published as <case dir>/link, or with the host's USB view
# under <case dir>/usb, and stops it.
sim_pid=""

start_sim() {  # start_sim <case dir> <sim options...>: waits for its ready line
  local dir=$1
  shift
  rm -f "$dir/link"
  "$bin/quarn-sim" --link "$dir/link" --image-out "$dir/received.bin" "$@" \
    >"$dir/sim.out" 2>"$dir/sim.err" &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -q '^ready' "$dir/sim.out" 2>/dev/null && return 0
    sleep 0.05
  done
  echo "quarn-sim did not become ready: $(cat "$dir/sim.err")"
  return 1
}

# start_usb_sim <case dir> <sim options...>: the USB view in <case dir>/usb (sys and dev, for
# QUARN_SYSFS_ROOT and QUARN_DEV_ROOT); waits until its tree stands.
start_usb_sim() {
  local dir=$1
  shift
  rm -rf "$dir/usb"
  "$bin/quarn-sim" --usb-view "$dir/usb" --image-out "$dir/received.bin" "$@" \
    >"$dir/sim.out" 2>"$dir/sim.err" &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -q '^usb-view ready' "$dir/sim.out" 2>/dev/null && return 0
    sleep 0.05
  done
  echo "quarn-sim did not become ready: $(cat "$dir/sim.err")"
  return 1
}

stop_sim() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null
  wait "$sim_pid" 2>/dev/null
  sim_pid=""
}
