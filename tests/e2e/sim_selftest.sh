#!/usr/bin/env bash
# Self-test of the tester simulator: drives quarn-sim over its pty as the updater would and
# checks the image it stores, a lost acknowledgement, the port vanishing on restart, and a
# rejected app signature.
# Usage: sim_selftest.sh <directory of the built binaries> <source directory>
set -euo pipefail

bin_dir=$1
sim=$bin_dir/quarn-sim
# The system interpreter starts much faster than a version-manager shim.
python=python3
[[ -x /usr/bin/python3 ]] && python=/usr/bin/python3
work=$(mktemp -d)
sim_pid=

cleanup() {
  if [[ -n $sim_pid ]] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  for log in "$work"/*.log; do
    [[ -f $log ]] && { echo "--- $log" >&2; cat "$log" >&2; }
  done
  exit 1
}

# Starts the simulator with the given options and waits for its ready line.
start_sim() {
  local name=$1
  shift
  "$sim" --link "$work/$name.port" --log "$work/$name.log" "$@" \
    >"$work/$name.out" 2>"$work/$name.err" &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -q '^ready /dev/pts/' "$work/$name.out" 2>/dev/null && return 0
    kill -0 "$sim_pid" 2>/dev/null || fail "$name: quarn-sim exited early: $(cat "$work/$name.err")"
    sleep 0.05
  done
  fail "$name: no ready line"
}

# Waits for the simulator to end; gives its exit status in sim_status.
wait_sim() {
  sim_status=0
  wait "$sim_pid" || sim_status=$?
  sim_pid=
}

cat >"$work/driver.py" <<'PY'
import os, select, sys, time, zlib

BOOTLOADER = b"\x02BOOTLOADER=1\x03"
DEVICE_ID = bytes.fromhex("11130D0A03041A7F00FF805A")  # the simulator's default

class Port:
    def __init__(self, path):
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
    def close(self):
        os.close(self.fd)
    def send(self, data):
        assert os.write(self.fd, data) == len(data)
    def receive(self, count, timeout=1.0):
        """What arrived once count bytes are there or the time is up."""
        data = b""
        end = time.monotonic() + timeout
        while len(data) < count:
            left = end - time.monotonic()
            if left <= 0 or not select.select([self.fd], [], [], left)[0]:
                break
            data += os.read(self.fd, 256)
        return data

def expect(what, got, wanted):
    if got != wanted:
        sys.exit(f"{what}: got {got.hex(' ')}, wanted {wanted.hex(' ')}")

def device_id_request(size, crc):
    return (b"\xFD" + size.to_bytes(4, "little") + crc.to_bytes(4, "little") + b"\x00"
            + bytes(16) + b"\xFF")

def block(number, data):
    return b"\xFF" + number.to_bytes(2, "little") + data

def enter_bootloader(link, reopen_delay):
    port = Port(link)
    first_target = os.readlink(link)
    port.send(b"hello\r\n")  # noise the application firmware must ignore
    time.sleep(0.05)
    port.send(BOOTLOADER)
    time.sleep(reopen_delay)
    port.close()
    return Port(link), first_target

def full_transfer(link, image_out):
    image = bytes(range(130))  # holds CR, LF, XON, XOFF, ^C: a cooked line would mangle them
    port, first_target = enter_bootloader(link, 0.5)
    if os.readlink(link) == first_target:
        sys.exit("the link still points at the first pty after the restart")
    port.send(device_id_request(len(image), zlib.crc32(image)))
    expect("device-ID reply", port.receive(14), b"\xFD" + DEVICE_ID + b"\xFF")
    port.send(b"\xFEQUARN_" + DEVICE_ID + b"\xFF")
    expect("signature reply", port.receive(2), b"\xFE\xFF")
    port.send(b"\xFF\xFF\xFF")
    expect("start reply", port.receive(3), b"\x00\x00\x00")
    for number in range(3):
        message = block(number, image[60 * number:60 * number + 60])
        port.send(message)
        ack = port.receive(3, timeout=0.3)
        if number == 1:  # its acknowledgement is swallowed once: resend the same bytes
            expect("lost acknowledgement", ack, b"")
            port.send(message)
            ack = port.receive(3)
        expect(f"acknowledgement of block {number}", ack, b"\x00" + number.to_bytes(2, "little"))
    sent = time.monotonic()
    expect("completion reply", port.receive(2), b"\xFC\xFF")
    if time.monotonic() - sent < 0.02:
        sys.exit("the completion reply came together with the last acknowledgement")
    port.close()
    with open(image_out, "rb") as stored:
        expect("stored image", stored.read(), image)

def rejected_signature(link):
    port, _ = enter_bootloader(link, 0.1)
    port.send(device_id_request(10, 0))
    expect("device-ID reply", port.receive(14), b"\xFD" + DEVICE_ID + b"\xFF")
    port.send(b"\xFEQUARN_" + DEVICE_ID + b"\xFF")
    expect("rejected signature reply", port.receive(2), b"\x00\xFF")
    port.close()

if sys.argv[1] == "transfer":
    full_transfer(sys.argv[2], sys.argv[3])
else:
    rejected_signature(sys.argv[2])
PY

# A whole update: the pty vanishes on restart, block 1's acknowledgement is lost once, and the
# simulator exits 0 after checking the image.
start_sim transfer --image-out "$work/image.bin" --vanish 300 --drop-block-ack 1 \
  --exit-after-completion
"$python" "$work/driver.py" transfer "$work/transfer.port" "$work/image.bin" ||
  fail "transfer: driver failed"
wait_sim
[[ $sim_status -eq 0 ]] || fail "transfer: exit status $sim_status"
grep -q 'images good 1 bad 0' "$work/transfer.err" || fail "transfer: $(cat "$work/transfer.err")"
grep -q 'violations 0' "$work/transfer.err" || fail "transfer: $(cat "$work/transfer.err")"
[[ ! -e $work/transfer.port ]] || fail "transfer: link left behind"

# A rejected app signature; SIGTERM then ends the simulator cleanly and removes its link.
start_sim reject --reject-signature
"$python" "$work/driver.py" reject "$work/reject.port" || fail "reject: driver failed"
kill -TERM "$sim_pid"
wait_sim
[[ $sim_status -eq 0 ]] || fail "reject: exit status $sim_status after SIGTERM"
[[ ! -e $work/reject.port ]] || fail "reject: link left behind"

# Unplug points that name no stage, or a block without its index, are usage errors.
for wrong in "block" "device-id:3" "nowhere" "block:x"; do
  status=0
  "$sim" --unplug-at "$wrong" >/dev/null 2>&1 || status=$?
  [[ $status -eq 2 ]] || fail "--unplug-at $wrong: exit status $status, expected 2"
done

echo "sim_selftest: ok"
