#!/usr/bin/env bash
# quarn-update against a real kernel: boots Debian 12's own kernel in QEMU (no KVM: the machines
# this runs on cannot give it a stock kernel), where the simulated tester is a USB gadget on
# dummy_hcd and quarn-update meets the kernel's cdc_acm driver, real udev and the project's udev
# rule. One boot runs every scenario of tests/vm/guest.sh; this script checks that each planned
# scenario reported "ok". The VM sees this machine's root read-only over 9p and runs the
# project's own binaries in it by chroot; its results land in build/vm/run/.
# Usage: run.sh <directory of the native binaries> <source directory>
#   QUARN_VM_ONLY=<regex> runs only the scenarios whose names match.
#   QUARN_VM_TIMEOUT=<seconds> bounds the whole VM run (default 300).
#   QUARN_VM_TRACE=1 traces the guest script into build/vm/run/trace.log.
# Exit status: 0 all passed, 1 a failure, 77 skipped (this machine cannot fetch the kernel).
set -uo pipefail
bin=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
vm="$src/build/vm"
run="$vm/run"

case "$src$bin" in
  *[[:space:]]*) echo "vm: the source and build paths must not contain spaces (kernel command line)"; exit 1 ;;
esac
case "$bin" in
  "$src"/*) ;;
  *) echo "vm: the build folder must lie in the source folder (the guest sees only that share)"; exit 1 ;;
esac
[ "$(id -u)" = 0 ] || { echo "vm: SKIP: QEMU's 9p export of / needs root"; exit 77; }

t_start=$(date +%s%N)
bash "$src/tests/vm/prepare.sh" "$src"
prepared=$?
[ $prepared = 0 ] || exit $prepared
t_prepared=$(date +%s%N)

rm -rf "$run"
mkdir -p "$run"
echo "${QUARN_VM_ONLY:-.}" >"$run/only"
[ -n "${QUARN_VM_TRACE:-}" ] && : >"$run/trace"
# The scenarios' packages, made here: Python starts slowly under TCG.
for size in 3000 6000; do
  python3 "$src/scripts/make_sample_package.py" "$run/package-$size" --size $size --seed $size >/dev/null ||
    { echo "vm: cannot make the sample package"; exit 1; }
done
chmod -R a+rX "$run"
limit=${QUARN_VM_TIMEOUT:-300}
kernel="$vm/vmlinux"
[ -f "$kernel" ] || kernel="$vm/vmlinuz"

# -cpu max with TCG: a stock kernel does not boot under this machine's /dev/kvm.
timeout -k 10 "$limit" qemu-system-x86_64 -accel tcg -cpu max -smp 2 -m 512 \
  -nodefaults -no-user-config -display none -no-reboot \
  -serial "file:$run/console.log" \
  -kernel "$kernel" -initrd "$vm/initramfs.gz" \
  -append "console=ttyS0 quiet loglevel=4 panic=1 quarn.src=$src quarn.bin=$bin" \
  -fsdev local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap \
  -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot \
  -fsdev local,id=src,path="$src",security_model=none,readonly=on,multidevs=remap \
  -device virtio-9p-pci,fsdev=src,mount_tag=src \
  -fsdev local,id=out,path="$run",security_model=none,multidevs=remap \
  -device virtio-9p-pci,fsdev=out,mount_tag=out \
  >"$run/qemu.log" 2>&1
qemu_code=$?
t_end=$(date +%s%N)

results="$run/results"
grep -v '^plan ' "$results" 2>/dev/null
failed=0
if [ $qemu_code = 124 ] || [ $qemu_code = 137 ]; then
  echo "FAIL the VM did not power off within $limit s"; failed=1
elif [ $qemu_code != 0 ]; then
  echo "FAIL qemu-system-x86_64 exited with $qemu_code: $(tail -n 3 "$run/qemu.log")"; failed=1
fi
planned=$(awk '$1 == "plan" {print $2}' "$results" 2>/dev/null)
[ -n "$planned" ] || { echo "FAIL no scenario was planned (did the VM boot?)"; failed=1; }
for name in $planned; do
  if ! grep -qE "^ok +$name( |$)" "$results"; then
    grep -qE "^FAIL $name[: ]" "$results" || echo "FAIL $name: no result line"
    failed=1
  fi
done
grep -q '^done ' "$results" 2>/dev/null || { echo "FAIL the guest did not finish"; failed=1; }
if [ $failed = 1 ] && ! grep -q '^done ' "$results" 2>/dev/null; then
  echo "--- the VM's console (last 40 lines of $run/console.log):"
  tail -n 40 "$run/console.log" 2>/dev/null
fi
echo "vm: prepare $(( (t_prepared - t_start) / 1000000 )) ms, VM run $(( (t_end - t_prepared) / 1000000 )) ms; files in $run"
exit $failed
