#!/usr/bin/env bash
# quarn-update against quarn-sim's USB view (sysfs tree and device directory, QUARN_SYSFS_ROOT and
# QUARN_DEV_ROOT), where the tester comes back from its restart as the kernel and udev would bring
# it back: under the lowest free ttyACM number, its old one taken while the updater still holds
# the old node; later than the pause; with another product string and serial number; root-only
# for a while; or never. The session finds it again at its USB location every time, or fails in
# bounded time naming the path it last tried.
# Usage: cli_usb.sh <directory of the native binaries> <source directory>
#   QUARN_E2E_ONLY=<regex> runs only the rows whose names match.
set -uo pipefail
bin=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
# shellcheck source=tests/e2e/lib/sim_control.sh
source "$src/tests/e2e/lib/sim_control.sh"
python=python3
[[ -x /usr/bin/python3 ]] && python=/usr/bin/python3
cli_checks=$src/tests/e2e/lib/cli_checks.py
work=$(mktemp -d /tmp/quarn-usb.XXXXXX)
chmod 0755 "$work"  # the unprivileged row reads its case folder
cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
passed=0
failed=0
by_id=usb-Zentrika_Zentrika_QUARN_PD_Tester_QA0001-if00

# run_case <name> <expected exit> <expected text> [options] -- <quarn-update arguments>
#   --sim "<options>"     simulator options (the USB view's own among them)
#   --image [N]           tester N (default 1) received exactly QUARN.bin
#   --bootloader NODE     the bootloader of tester 1 came back as /dev/NODE
#   --json-port NODE      the JSON "reconnected" event names <usb>/dev/NODE
#   --untouched N         tester N received no byte at all
#   --as-dialout          run quarn-update as an unprivileged user in group dialout
#   --floor MS, --ceiling MS   the run's time bounds (default 0 and 15000)
# In the quarn-update arguments @USB@ stands for the view's folder. quarn-update runs in the
# package's directory.
run_case() {
  local name=$1 expected_exit=$2 expect=$3
  shift 3
  [[ $name =~ ${QUARN_E2E_ONLY:-.} ]] || return 0
  local sim_options="" image="" bootloader="" json_port="" untouched="" as_dialout=0
  local floor=0 ceiling=15000
  while [[ $1 != -- ]]; do
    case $1 in
      --sim) sim_options=$2; shift 2 ;;
      --image)
        if [[ ${2:-} =~ ^[0-9]+$ ]]; then image=$2; shift 2; else image=1; shift; fi ;;
      --bootloader) bootloader=$2; shift 2 ;;
      --json-port) json_port=$2; shift 2 ;;
      --untouched) untouched=$2; shift 2 ;;
      --as-dialout) as_dialout=1; shift ;;
      --floor) floor=$2; shift 2 ;;
      --ceiling) ceiling=$2; shift 2 ;;
      *) echo "$name: unknown option $1" >&2; exit 2 ;;
    esac
  done
  shift
  local dir=$work/$name
  mkdir -p "$dir/package"
  chmod 0755 "$dir"
  "$python" "$src/scripts/make_sample_package.py" "$dir/package" --size 3000 >/dev/null
  local -a sim_args args runner=()
  read -r -a sim_args <<<"$sim_options"
  args=("${@//@USB@/$dir/usb}")
  local program=$bin/quarn-update
  if ((as_dialout)); then
    # A copy in the case folder (mode 0755), so no folder on the way needs to be the user's.
    mkdir -p "$dir/bin" && cp "$bin/quarn-update" "$dir/bin/" && chmod 0755 "$dir/bin"
    program=$dir/bin/quarn-update
    runner=(setpriv --reuid=65534 --regid=65534 --groups="$(getent group dialout | cut -d: -f3)"
      --inh-caps=-all --)
  fi
  local why="" code=0 ms=0
  if ! start_usb_sim "$dir" --log "$dir/sim.log" "${sim_args[@]}" >"$dir/sim.why"; then
    why="simulator did not start: $(cat "$dir/sim.why"); "
  else
    local t0 t1
    t0=$(date +%s%N)
    (cd "$dir/package" && exec "${runner[@]}" env QUARN_SYSFS_ROOT="$dir/usb/sys" \
      QUARN_DEV_ROOT="$dir/usb/dev" "$program" "${args[@]}" >"$dir/out" 2>"$dir/err")
    code=$?
    t1=$(date +%s%N)
    ms=$(((t1 - t0) / 1000000))
    stop_sim
    [[ $code == "$expected_exit" ]] || why+="exit $code, expected $expected_exit; "
    grep -qF -- "${expect//@USB@/$dir/usb}" "$dir/out" "$dir/err" || why+="no '$expect'; "
    ((ms < ceiling)) || why+="took $ms ms (ceiling $ceiling); "
    ((ms >= floor)) || why+="took only $ms ms (floor $floor); "
    if [[ -n $image ]]; then
      local received=$dir/received.bin
      [[ $image == 1 ]] || received+=".$image"
      cmp -s "$dir/package/QUARN.bin" "$received" || why+="tester $image did not receive QUARN.bin; "
    fi
    if [[ -n $bootloader ]] && ! grep -q "bootloader at 1-1.2 is /dev/$bootloader " "$dir/sim.err"; then
      why+="the bootloader did not come back as $bootloader; "
    fi
    if [[ -n $json_port ]]; then
      "$python" "$cli_checks" json "$dir/out" "$expected_exit" >"$dir/json" 2>&1 || why+="$(cat "$dir/json"); "
      grep -qF "{\"event\":\"reconnected\",\"port\":\"$dir/usb/dev/$json_port\"}" "$dir/out" ||
        why+="no reconnected event for $json_port; "
    fi
    if [[ -n $untouched ]]; then
      local log=$dir/sim.log
      [[ $untouched == 1 ]] || log+=".$untouched"
      if [[ ! -s $log ]]; then
        why+="no log of tester $untouched; "
      elif grep -q ' rx ' "$log"; then
        why+="tester $untouched received bytes; "
      fi
    fi
  fi
  if [[ -z $why ]]; then
    passed=$((passed + 1))
    echo "ok   $name (${ms} ms)"
  else
    failed=$((failed + 1))
    echo "FAIL $name: $why"
    sed 's/^/  out: /' "$dir/out" 2>/dev/null | head -20
    sed 's/^/  err: /' "$dir/err" 2>/dev/null | head -20
    tail -8 "$dir/sim.err" 2>/dev/null | sed 's/^/  sim: /'
  fi
}

done_text="Programming complete."

# The updater holds ttyACM0 through the 3 s pause; the bootloader is back after 800 ms and
# cannot have that number: it comes up as ttyACM1 beneath the same location.
run_case held-node 0 "$done_text" --image --bootloader ttyACM1 --sim "--exit-after-completion" --
run_case held-node-json 0 '"code":"programmingComplete"' --image --json-port ttyACM1 \
  --sim "--exit-after-completion" -- --json
# Back only 5 s after the request, 2 s after the pause: the updater let ttyACM0 go at the pause's
# end, so the bootloader takes it again; the second opening waited for it.
run_case back-after-5-s 0 "$done_text" --image --bootloader ttyACM0 --floor 5000 \
  --sim "--exit-after-completion --vanish 5000" --
# The bootloader reports another product string and serial number (its by-id link changes too).
run_case other-product-and-serial 0 "$done_text" --image --bootloader ttyACM1 \
  --sim "--exit-after-completion --bootloader-product QBL_DFU --bootloader-serial BL-7" --
# --port naming the node, or its /dev/serial/by-id link: resolved to the location at the start.
run_case port-names-the-node 0 "$done_text" --image --json-port ttyACM1 \
  --sim "--exit-after-completion" -- --json --port @USB@/dev/ttyACM0
run_case port-by-id-link 0 "$done_text" --image --json-port ttyACM1 \
  --sim "--exit-after-completion" -- --json --port "@USB@/dev/serial/by-id/$by_id"
# The bootloader's node appears just after the pause and stays root-only for 600 ms before
# udev hands it to dialout: an unprivileged user in dialout gets EACCES until then.
run_case root-only-600-ms 0 "$done_text" --image --as-dialout --floor 3600 \
  --sim "--exit-after-completion --vanish 3100 --root-only 600" --
# Never back: the second opening gives up 10 s after the pause and names the old node.
run_case never-back 5 "Failed to open @USB@/dev/ttyACM0" --floor 12500 --ceiling 16000 \
  --sim "--unplug-at bootloader" --
# Two testers, --port naming the second: the first receives no byte.
run_case two-testers-port-names-one 0 "$done_text" --image 2 --untouched 1 \
  --sim "--testers 2 --exit-after-completion" -- --port @USB@/dev/ttyACM1

# Two testers updated at once, one process each as peers recommend; the second unplugs at block
# 5. Both restart while both updaters hold their old nodes, so the bootloaders come back under
# new numbers (2 and 3, in either order): each session must find its own tester by location.
parallel_case() {
  local name=two-updaters-one-unplugged
  [[ $name =~ ${QUARN_E2E_ONLY:-.} ]] || return 0
  local dir=$work/$name why="" code1=0 code2=0
  mkdir -p "$dir/package"
  "$python" "$src/scripts/make_sample_package.py" "$dir/package" --size 3000 >/dev/null
  if ! start_usb_sim "$dir" --log "$dir/sim.log" --testers 2 --unplug-tester 2:5 >"$dir/sim.why"; then
    why="simulator did not start; "
  else
    local t0 t1 ms
    t0=$(date +%s%N)
    for n in 0 1; do
      (cd "$dir/package" && exec env QUARN_SYSFS_ROOT="$dir/usb/sys" QUARN_DEV_ROOT="$dir/usb/dev" \
        "$bin/quarn-update" --port "$dir/usb/dev/ttyACM$n" >"$dir/out$n" 2>"$dir/err$n") &
      eval "pid$n=\$!"
    done
    wait "$pid0" || code1=$?
    wait "$pid1" || code2=$?
    t1=$(date +%s%N)
    ms=$(((t1 - t0) / 1000000))
    stop_sim
    [[ $code1 == 0 ]] || why+="first exit $code1; "
    [[ $code2 == 18 ]] || why+="second exit $code2, expected 18; "
    cmp -s "$dir/package/QUARN.bin" "$dir/received.bin" || why+="tester 1 did not receive QUARN.bin; "
    grep -qF "2 Failed to program firmware." "$dir/err1" || why+="no block failure for tester 2; "
    ((ms < 15000)) || why+="took $ms ms; "
  fi
  if [[ -z $why ]]; then
    passed=$((passed + 1))
    echo "ok   $name (${ms} ms)"
  else
    failed=$((failed + 1))
    echo "FAIL $name: $why"
    for f in out0 err0 out1 err1; do sed "s/^/  $f: /" "$dir/$f" 2>/dev/null | head -10; done
    tail -8 "$dir/sim.err" 2>/dev/null | sed 's/^/  sim: /'
  fi
}
parallel_case

echo "$passed passed, $failed failed"
[[ $failed == 0 ]] && [[ $passed -gt 0 ]]
