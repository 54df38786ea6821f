#!/bin/bash
# The scenarios of the gadget VM. Runs inside the VM as root, in the host's root by chroot (so it
# runs the project's own binaries), started by tests/vm/init. Each scenario makes a configfs
# gadget "Zentrika QUARN" with the ACM function on a dummy_hcd controller, plays the tester on its
# device side with `quarn-sim --gadget-tty`, and updates it with `quarn-update` on the VM's host
# side: the kernel's cdc_acm driver, real udev and the project's udev rule in /etc/udev/rules.d.
# Usage: guest.sh <source directory> <directory of the native binaries> <run directory>
#   <run directory>/only may hold a regex: only the scenarios whose names match run.
# Writes one line per scenario to <run directory>/results ("plan NAME" first for each scenario,
# then "ok   NAME (...)" or "FAIL NAME: why"), each scenario's files to <run directory>/NAME/,
# and "done ..." at the end.
set -uo pipefail
src=$1
bin=$2
out=$3
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export LC_ALL=C
python=/usr/bin/python3
only=$(cat "$out/only" 2>/dev/null || true)
only=${only:-.}
results="$out/results"
: >"$results"
if [ -e "$out/trace" ]; then
  exec 2>"$out/trace.log"
  PS4='+ ${EPOCHREALTIME} '
  set -x
fi
work=/tmp/quarn-vm
mkdir -p "$work"
chmod 0755 "$work"
cfg=/sys/kernel/config/usb_gadget
passed=0
failed=0

# Process start-up is dear under TCG (a fork and exec over 9p), so the helpers keep to builtins.
say() { echo "$*"; echo "$*" >>"$results"; }
now_ms() { local t=${EPOCHREALTIME/./}; echo $((t / 1000)); }
uptime_s() { local up rest; read -r up rest </proc/uptime; echo "$up"; }
mkfifo /tmp/nap
exec {nap_fd}<>/tmp/nap
nap() { read -rt "$1" -u "$nap_fd"; }  # sleep without a process

# --- udev ------------------------------------------------------------------------------------
say "note: guest script started $(uptime_s) s after power-on"
# No trigger: the devices that matter are made after udevd runs. (And settle would return before
# a USB device's enumeration ends anyway; the scenarios poll for their nodes.)
/lib/systemd/systemd-udevd --daemon --resolve-names=early >/dev/null 2>&1 ||
  say "note: systemd-udevd did not start"
timeout 20 udevadm control --ping --timeout=15 >/dev/null 2>&1 || say "note: udevd does not answer"
say "note: udev running $(uptime_s) s after power-on"

# --- gadgets ---------------------------------------------------------------------------------
# make_gadget <name> <product> <serial> <pid>: an unbound gadget with one ACM function; prints
# its device-side tty. The IDs are pid.codes' open test IDs (1209:0001, 1209:0002): the rule
# matches the product string only.
make_gadget() {
  local g=$cfg/$1
  mkdir "$g" || return 1
  echo 0x1209 >"$g/idVendor"
  echo "$4" >"$g/idProduct"
  mkdir "$g/strings/0x409"
  echo "Zentrika" >"$g/strings/0x409/manufacturer"
  echo "$2" >"$g/strings/0x409/product"
  echo "$3" >"$g/strings/0x409/serialnumber"
  mkdir "$g/configs/c.1" "$g/functions/acm.$1"
  ln -s "$g/functions/acm.$1" "$g/configs/c.1/"
  local tty
  tty=/dev/ttyGS$(cat "$g/functions/acm.$1/port_num")
  local i
  for ((i = 0; i < 100; i++)); do
    [ -c "$tty" ] && { echo "$tty"; return 0; }
    nap 0.02
  done
  return 1
}

remove_gadget() {
  local g=$cfg/$1
  [ -d "$g" ] || return 0
  [ -n "$(cat "$g/UDC" 2>/dev/null)" ] && echo "" >"$g/UDC"
  rm -f "$g/configs/c.1/acm.$1"
  rmdir "$g/configs/c.1" "$g/functions/acm.$1" "$g/strings/0x409" "$g" 2>/dev/null
}

# wait_node <USB location> <ms>: prints /dev/ttyACMn of the tty beneath that location (its
# interface <location>:1.0) once udev has handled it (its /dev/serial/by-path link points at it;
# the rule's mode and group come in the same event), and fails after the bound. The node must be
# a character device: a program that opens a missing /dev/ttyACM0 for writing as root would
# make a regular file.
wait_node() {
  local location=$1 deadline=$(($(now_ms) + $2)) entry name link
  while [ "$(now_ms)" -lt "$deadline" ]; do
    for entry in /sys/bus/usb/devices/"$location"/"$location":1.0/tty/ttyACM*; do
      [ -e "$entry" ] || continue
      name=${entry##*/}
      [ -c "/dev/$name" ] || continue
      for link in /dev/serial/by-path/*; do
        [ "$link" -ef "/dev/$name" ] && { echo "/dev/$name"; return 0; }
      done
    done
    nap 0.05
  done
  return 1
}

by_id_link() {  # the /dev/serial/by-id link of a node
  local link
  for link in /dev/serial/by-id/*; do
    [ "$link" -ef "$1" ] && { echo "$link"; return 0; }
  done
  return 1
}

# The controllers' USB locations: dummy_hcd's root hub n has its one port at n-1.
udc_location() {  # udc_location <n>: of dummy_udc.<n>, whose host side is dummy_hcd.<n>
  local bus
  for bus in /sys/devices/platform/dummy_hcd."$1"/usb*; do
    [ -e "$bus" ] && { echo "${bus##*/usb}-1"; return 0; }
  done
  return 1
}

# --- what the VM saw, for a failing scenario --------------------------------------------------
kernel_lines_since() {  # dmesg lines about the gadget and cdc_acm since uptime $1
  dmesg | awk -v since="$1" '
    { t = $0; sub(/^\[ */, "", t); sub(/\].*/, "", t) }
    t + 0 >= since && /gadget|cdc_acm|ttyACM|ttyGS|dummy|usb [0-9]|configfs|acm/' | tail -n 40
}

udev_of() {  # udevadm info of a node, with its owner, group and mode as the file system says
  [ -n "$1" ] && [ -e "$1" ] || { echo "(no node $1)"; return; }
  echo "node $1: $(stat -c '%U:%G %a %F' "$1")"
  udevadm info "$1" 2>&1
}

udev_excerpt() {  # the lines of a udev_of file that tell which device it is and what udev did
  grep -E '^(node|\(no node|P:|S:|E: (ID_SERIAL|ID_MODEL_ID|ID_MM_DEVICE_IGNORE|ID_USB_DRIVER|CURRENT_TAGS)=)' "$1"
}

# check_udev <result name> <node> <udev info file>: the rule's promises, from udev itself.
check_udev() {
  local name=$1 node=$2 info=$3 why=""
  [[ $name =~ $only ]] || return 0
  if [ -z "$node" ] || [ ! -s "$info" ]; then
    why="no node to look at"
  else
    grep -qx 'E: ID_MM_DEVICE_IGNORE=1' "$info" || why="no ID_MM_DEVICE_IGNORE=1"
    local mode
    mode=$(sed -n 's/^node [^:]*: \([^ ]*\) \([0-7]*\) .*/\1 \2/p' "$info")
    [ "${mode#*:}" = "dialout 660" ] || why="$why; owner, group and mode '$mode', not root:dialout 660"
  fi
  if [ -z "$why" ]; then
    passed=$((passed + 1))
    say "ok   $name ($node: ID_MM_DEVICE_IGNORE=1, $(sed -n 's/^node [^:]*: \([^ ]*\) \([0-7]*\) .*/\1 0\2/p' "$info")$(grep -q '^E: CURRENT_TAGS=.*:uaccess:' "$info" && echo ', tag uaccess'))"
  else
    failed=$((failed + 1))
    say "FAIL $name: ${why#; }"
    udev_excerpt "$info" | sed 's/^/  udev: /' | tee -a "$results"
  fi
}

# --- the scenarios ---------------------------------------------------------------------------
packages() {  # one package per size; tests/vm/run.sh makes them on the host, where Python is quick
  local size=$1
  if [ ! -d "$out/package-$size" ]; then
    mkdir -p "$work/package-$size"
    "$python" "$src/scripts/make_sample_package.py" "$work/package-$size" --size "$size" \
      --seed "$size" >/dev/null
    chmod -R a+rX "$work/package-$size"
    echo "$work/package-$size"
  else
    echo "$out/package-$size"
  fi
}

# scenario <name> <expected exit> <expected report> <sim options...> [-- <quarn-update options...>]
# Settings by prefix: size (image bytes, default 3000), ceiling_ms (default 30000), floor_ms,
# as_user=1 (the CLI runs as nobody in group dialout), second=1 (a second tester on dummy_udc.1)
# and target=N (the tester to be updated; the other must receive no byte). In the quarn-update
# options @BYID@ and @BYID2@ stand for the /dev/serial/by-id link of tester 1 and tester 2.
scenario() {
  local name=$1 expected_exit=$2 expected_report=$3
  shift 3
  [[ $name =~ $only ]] || return 0
  local sim_args=() cli_args=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do sim_args+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  cli_args=("$@")
  local dir="$work/$name" since ok=1 why="" code="" ms=0
  rm -rf "$dir"
  mkdir -p "$dir"
  chmod 0755 "$dir"
  since=$(uptime_s)
  local package
  package=$(packages "${size:-3000}")

  # Tester 1 on dummy_udc.0; with second=1 tester 2 on dummy_udc.1. The update goes to tester
  # $target (default 1); any other must receive no byte.
  local count=1 target=${target:-1} t tty i
  [ "${second:-0}" = 1 ] && count=2
  local -a sims=() nodes=() locations=() links=()
  for ((t = 1; t <= count; t++)); do
    [ $ok = 1 ] || break
    locations[t]=$(udc_location $((t - 1)))
    tty=$(make_gadget "quarn$t" "Zentrika QUARN" "Q000$t" 0x0001) || { ok=0; why="no gadget tty"; break; }
    "$bin/quarn-sim" --gadget-tty "$tty" --gadget "$cfg/quarn$t" --udc "dummy_udc.$((t - 1))" \
      --image-out "$dir/received$t.bin" --log "$dir/sim$t.log" --exit-after-completion \
      --completion-delay "$completion_delay_ms" \
      "${sim_args[@]}" >"$dir/sim$t.out" 2>"$dir/sim$t.err" &
    sims[t]=$!
    nodes[t]=$(wait_node "${locations[t]}" 15000) ||
      { ok=0; why="tester $t's node never appeared at ${locations[t]}"; break; }
    links[t]=$(by_id_link "${nodes[t]}")
  done
  local node=${nodes[target]:-} location=${locations[target]:-}
  udev_of "$node" >"$dir/application.udev"
  local runner=() program="$bin/quarn-update"
  if [ $ok = 1 ]; then
    for i in "${!cli_args[@]}"; do
      cli_args[i]=${cli_args[i]//@BYID2@/${links[2]:-}}
      cli_args[i]=${cli_args[i]//@BYID@/${links[1]:-}}
    done
    if [ "${as_user:-0}" = 1 ]; then
      # A folder of mode 0755 with a copy of the binary: nobody may not reach the build tree.
      mkdir -p "$dir/case"
      cp "$bin/quarn-update" "$dir/case/"
      chmod 0755 "$dir/case" "$dir/case/quarn-update"
      program="$dir/case/quarn-update"
      runner=(setpriv --reuid=65534 --regid=65534 --groups=20 --inh-caps=-all)
    fi
    echo "${runner[*]} $program ${cli_args[*]}" >"$dir/command"
    local t0 t1
    t0=$(now_ms)
    (cd "$package" && timeout -k 5 "$(( ${ceiling_ms:-30000} / 1000 + 30 ))" \
      "${runner[@]}" "$program" "${cli_args[@]}" >"$dir/out" 2>"$dir/err")
    code=$?
    t1=$(now_ms)
    ms=$((t1 - t0))
    [ "$code" = "$expected_exit" ] || { ok=0; why="exit $code, expected $expected_exit"; }
    grep -qF -- "$expected_report" "$dir/out" "$dir/err" || { ok=0; why="$why; no '$expected_report'"; }
    if [ "$expected_exit" = 0 ] && ! cmp -s "$package/QUARN.bin" "$dir/received$target.bin"; then
      ok=0; why="$why; the received image differs from QUARN.bin"
    fi
    [ "$ms" -lt "${ceiling_ms:-30000}" ] || { ok=0; why="$why; took $ms ms"; }
    [ "$ms" -ge "${floor_ms:-0}" ] || { ok=0; why="$why; took only $ms ms"; }
  fi

  # The node the tester has now at its USB location: the bootloader's after a restart.
  local now_node=""
  [ -n "$location" ] && now_node=$(wait_node "$location" 3000)
  udev_of "$now_node" >"$dir/bootloader.udev"
  for t in "${!sims[@]}"; do
    for ((i = 0; i < 40; i++)); do kill -0 "${sims[t]}" 2>/dev/null || break; nap 0.05; done
    kill "${sims[t]}" 2>/dev/null
    wait "${sims[t]}" 2>/dev/null
    if [ "$t" != "$target" ] && ! grep -q 'received 0 bytes' "$dir/sim$t.err"; then
      ok=0; why="$why; tester $t, not named, received bytes: $(tail -n1 "$dir/sim$t.err")"
    fi
  done
  kernel_lines_since "$since" >"$dir/dmesg"

  local detail="${ms} ms"
  [ -n "$node" ] && detail="$detail; ${node#/dev/}"
  [ -n "$now_node" ] && [ "$now_node" != "$node" ] && detail="$detail, then ${now_node#/dev/}"
  if [ $ok = 1 ]; then
    passed=$((passed + 1))
    say "ok   $name ($detail)"
  else
    failed=$((failed + 1))
    say "FAIL $name: ${why#; } ($detail)"
    {
      sed 's/^/  out: /' "$dir/out" 2>/dev/null
      sed 's/^/  err: /' "$dir/err" 2>/dev/null
      tail -n 5 "$dir/sim$target.err" 2>/dev/null | sed 's/^/  sim: /'
      grep -e ' -- ' "$dir/sim$target.log" 2>/dev/null | tail -n 8 | sed 's/^/  sim log: /'
      sed 's/^/  dmesg: /' "$dir/dmesg"
      udev_excerpt "$dir/application.udev" | sed 's/^/  udev (application): /'
      udev_excerpt "$dir/bootloader.udev" | sed 's/^/  udev (now): /'
    } | tee -a "$results"
  fi

  # Unplug whatever is left and wait until the host side has let go of it.
  remove_gadget quarn1
  remove_gadget quarn2
  local acm
  for ((i = 0; i < 100; i++)); do
    acm=(/sys/class/tty/ttyACM*)
    [ -e "${acm[0]}" ] || break
    nap 0.05
  done
  mkdir -p "$out/$name"
  cp -r "$dir"/. "$out/$name/" 2>/dev/null
  rm -f "$out/$name/quarn-update" "$out/$name/case/quarn-update"
}

# The tester's verdict comes this long after the last acknowledgement. A real tester takes seconds
# to check the image; the pty modes' 30 ms would, on a VM this slow, let the verdict reach the
# host together with the acknowledgement, which the updater reads as one reply.
completion_delay_ms=500

plan() {
  local name
  for name in "$@"; do
    [[ $name =~ $only ]] && echo "plan $name" >>"$results"
  done
}
plan no-restart plain udev-application-node udev-bootloader-node by-id-port bootloader-identity \
  back-after-5s dialout-user unplug-mid-transfer two-testers

# The control: the tester does not leave the bus, so the same node serves the bootloader. This
# proves the protocol over the real cdc_acm driver whatever becomes of the restart.
scenario no-restart 0 "Programming complete."
# The real restart, 800 ms off the bus, while quarn-update holds the old node: the kernel cannot
# give its minor back, so the bootloader comes as ttyACM1.
scenario plain 0 "Programming complete." --vanish 800
check_udev udev-application-node "$(sed -n 's/^node \([^:]*\):.*/\1/p' "$work/plain/application.udev" 2>/dev/null)" \
  "$work/plain/application.udev"
check_udev udev-bootloader-node "$(sed -n 's/^node \([^:]*\):.*/\1/p' "$work/plain/bootloader.udev" 2>/dev/null)" \
  "$work/plain/bootloader.udev"
scenario by-id-port 0 "Programming complete." --vanish 800 -- --port @BYID@
scenario bootloader-identity 0 "Programming complete." --vanish 800 \
  --bootloader-product "QUARN Bootloader" --bootloader-serial QB0001 --bootloader-pid 0x0002
floor_ms=5000 ceiling_ms=40000 scenario back-after-5s 0 "Programming complete." --vanish 5000
as_user=1 scenario dialout-user 0 "Programming complete." --vanish 800
size=6000 scenario unplug-mid-transfer 18 "Quarn Updater: Error: 2 Failed to program firmware." \
  --vanish 800 --unplug-at-block 20
second=1 target=2 scenario two-testers 0 "Programming complete." --vanish 800 -- --port @BYID2@

say "done $passed passed, $failed failed, $(uptime_s) s after power-on"
sync
