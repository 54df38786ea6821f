#!/usr/bin/env bash
# Self-test of the simulator's USB view, driven as a host would see it: the sysfs tree and the
# nodes and links of a tester, the hang-up of the host's descriptor at the bootloader request,
# the bootloader's number (the old one taken while it is held, free again once it is not), its
# root-only time before udev's turn, and the tree cleared when the simulator ends.
# Usage: sim_usb_view.sh <directory of the built binaries> <source directory>
set -euo pipefail

sim=$1/quarn-sim
python=python3
[[ -x /usr/bin/python3 ]] && python=/usr/bin/python3
work=$(mktemp -d)
sim_pid=
cleanup() {
  [[ -n $sim_pid ]] && kill -TERM "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  cat "$work"/*.err >&2 2>/dev/null || true
  exit 1
}

start_view() {  # start_view <name> <options...>
  local name=$1
  shift
  "$sim" --usb-view "$work/$name" "$@" >"$work/$name.out" 2>"$work/$name.err" &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -q '^usb-view ready' "$work/$name.out" 2>/dev/null && return 0
    sleep 0.05
  done
  fail "$name: no ready line"
}
stop_view() {
  kill -TERM "$sim_pid"
  wait "$sim_pid" || fail "exit status $? after SIGTERM"
  sim_pid=
}

cat >"$work/host.py" <<'PY'
import errno, grp, os, select, stat, sys, time

root, hold, root_only_ms = sys.argv[1], sys.argv[2] == "hold", int(sys.argv[3])
sys_tty, dev = f"{root}/sys/class/tty", f"{root}/dev"
BOOTLOADER = b"\x02BOOTLOADER=1\x03"
BY_ID = "usb-Zentrika_Zentrika_QUARN_PD_Tester_QA0001-if00"


def check(condition, what):
    if not condition:
        sys.exit(f"{sys.argv[2]}: {what}")


def wait_for(predicate, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.005)
    sys.exit(f"{sys.argv[2]}: {what} within {seconds} s")


def usb_device(node):
    return os.path.dirname(os.path.realpath(f"{sys_tty}/{node}/device"))


def attribute(directory, name):
    with open(f"{directory}/{name}") as f:
        return f.read().strip()


# The tree as the kernel and udev keep it.
usb = usb_device("ttyACM0")
check(os.path.basename(usb) == "1-1.2", f"tester at {usb}")
check(attribute(usb, "idVendor") == "0483" and attribute(usb, "serial") == "QA0001", "ids")
check("Zentrika QUARN" in attribute(usb, "product"), "product")
rdev = os.stat(f"{dev}/ttyACM0").st_rdev
check(attribute(f"{sys_tty}/ttyACM0", "dev") == f"{os.major(rdev)}:{os.minor(rdev)}", "dev file")
check(os.path.realpath(f"{dev}/serial/by-id/{BY_ID}") == os.path.realpath(f"{dev}/ttyACM0"), "by-id")
check(os.listdir(f"{dev}/serial/by-path") == ["pci-0000:00:14.0-usb-0:1.2:1.0"], "by-path")
for other in ("ttyS0", "ttyS1"):
    check(not os.path.exists(f"{usb_device(other)}/idVendor"), f"{other} is no USB tty")

# The bootloader request: the node goes at once and our descriptor is hung up.
fd = os.open(f"{dev}/ttyACM0", os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
os.write(fd, BOOTLOADER)
wait_for(lambda: not os.path.lexists(f"{dev}/ttyACM0"), 1, "old node gone")
check(not os.path.lexists(f"{sys_tty}/ttyACM0") and not os.listdir(f"{dev}/serial/by-id"), "old entries gone")
events = select.poll()
events.register(fd, select.POLLIN)
check(any(e & select.POLLHUP for _, e in events.poll(1000)), "no hang-up seen")
try:
    os.write(fd, b"x")
    sys.exit("write after the hang-up succeeded")
except OSError as error:
    check(error.errno == errno.EIO, f"write after the hang-up: {error}")
if not hold:
    os.close(fd)

# The bootloader: the lowest free number, the old one taken only while held.
number = 1 if hold else 0
node = f"{dev}/ttyACM{number}"
wait_for(lambda: os.path.lexists(node), 2, f"ttyACM{number}")
check(os.path.basename(usb_device(f"ttyACM{number}")) == "1-1.2", "bootloader's location")
mode = os.stat(node)
if root_only_ms:
    check(stat.S_IMODE(mode.st_mode) == 0o600 and mode.st_uid == 0, f"mode {oct(mode.st_mode)} at first")
    check(not os.listdir(f"{dev}/serial/by-id"), "by-id link before udev's turn")
    wait_for(lambda: stat.S_IMODE(os.stat(node).st_mode) == 0o660, 2, "0660")
dialout = grp.getgrnam("dialout").gr_gid
check(os.stat(node).st_gid == dialout, "group dialout")
wait_for(lambda: os.path.exists(f"{dev}/serial/by-id/{BY_ID}"), 1, "by-id link")
check(os.readlink(f"{dev}/serial/by-id/{BY_ID}") == f"../../ttyACM{number}", "by-id target")
if hold:
    os.close(fd)
PY

[[ $(id -u) == 0 ]] || { echo "sim_usb_view: skipped, the view's ownership needs root"; exit 77; }
start_view held --vanish 300 --root-only 400
"$python" "$work/host.py" "$work/held" hold 400 || fail "held"
stop_view
[[ -z $(ls "$work/held/dev" | grep ttyACM) ]] || fail "nodes left behind"
[[ ! -e $work/held/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1.2 ]] || fail "USB device left"

start_view let-go --vanish 300
"$python" "$work/host.py" "$work/let-go" let-go 0 || fail "let-go"
stop_view

# Options of the view that make no sense are usage errors.
for wrong in "--testers 0" "--testers 9" "--unplug-tester 0:3" "--unplug-tester 2" \
  "--usb-view $work/x --link $work/y"; do
  status=0
  # shellcheck disable=SC2086
  "$sim" $wrong >/dev/null 2>&1 || status=$?
  [[ $status -eq 2 ]] || fail "$wrong: exit status $status, expected 2"
done
echo "sim_usb_view: ok"
