#!/usr/bin/env bash
# Prepares the virtual machine of the gadget tests once into build/vm/ and keeps it between runs:
# Debian 12's own kernel (the package linux-image-amd64 depends on today, found at run time since
# old ABIs leave the archive), only the modules the tests load, and an initramfs of busybox, those
# modules and tests/vm/init. Nothing is installed into this machine's kernel. It is rebuilt when
# the kernel package, the init script or busybox changes.
# Usage: prepare.sh <source directory>
# The kernel's own XZ payload is unpacked here into build/vm/vmlinux: QEMU boots that ELF through
# its PVH entry in 5 s, while decompressing vmlinuz under TCG takes half a minute.
# Exit status: 0 ready, 77 when this machine cannot have it (no archive to fetch the kernel
# from), 1 on any other failure.
set -euo pipefail
src=$(cd "$1" && pwd)
vm="$src/build/vm"
mkdir -p "$vm"

skip() { echo "vm prepare: SKIP: $*" >&2; exit 77; }
fail() { echo "vm prepare: $*" >&2; exit 1; }

for tool in qemu-system-x86_64 busybox depmod modprobe dpkg-deb apt-get apt-cache xz; do
  command -v "$tool" >/dev/null ||
    fail "$tool is missing: run scripts/setup.sh (qemu-system-x86 busybox-static udev kmod)"
done
[ -x /lib/systemd/systemd-udevd ] || fail "udev is missing: run scripts/setup.sh"

# The modules the guest loads, in the order tests/vm/init loads them (with their dependencies):
# virtio and 9p for the host's root, the gadget side (dummy_hcd, configfs gadgets, the ACM
# function) and the host side (cdc_acm).
modules=(virtio_pci 9pnet_virtio 9p configfs dummy_hcd libcomposite usb_f_acm cdc_acm)

kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ {print $2; exit}'
}
package=$(kernel_package || true)
if [ -z "$package" ]; then
  timeout 120 apt-get update -qq >/dev/null 2>&1 || true
  package=$(kernel_package || true)
fi
version=""
[ -n "$package" ] &&
  version=$(apt-cache policy "$package" 2>/dev/null | awk '$1 == "Candidate:" {print $2; exit}')
if [ -z "$package" ] || [ -z "$version" ] || [ "$version" = "(none)" ]; then
  # Without package lists the cached kernel still serves.
  [ -f "$vm/kernel.id" ] && [ -f "$vm/vmlinuz" ] || skip "no Debian kernel package known to apt"
  kernel_id=$(cat "$vm/kernel.id")
else
  kernel_id="$package $version"
fi

if [ ! -f "$vm/kernel.id" ] || [ "$(cat "$vm/kernel.id")" != "$kernel_id" ] ||
   [ ! -f "$vm/vmlinuz" ] || [ ! -d "$vm/modules" ]; then
  echo "vm prepare: fetching $kernel_id"
  work=$(mktemp -d "$vm/fetch.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && timeout 300 apt-get download -qq "$package=$version" >/dev/null 2>&1) ||
    (timeout 120 apt-get update -qq >/dev/null 2>&1 &&
     cd "$work" && timeout 300 apt-get download -qq "$package=$version" >/dev/null 2>&1) ||
    skip "cannot download $package $version from the archive (no network?)"
  dpkg-deb -x "$work"/*.deb "$work/x"
  release=$(ls "$work/x/lib/modules")
  [ -f "$work/x/boot/vmlinuz-$release" ] || fail "no vmlinuz-$release in $package"
  # The package ships no modules.dep: depmod from Debian's kmod makes it for the extracted tree.
  depmod -b "$work/x" "$release"
  rm -rf "$vm/modules" "$vm/vmlinuz" "$vm/vmlinux" "$vm/kernel.id" "$vm/initramfs.gz"
  mkdir -p "$vm/modules/lib/modules/$release"
  : >"$vm/modules/load-order"
  for module in "${modules[@]}"; do
    modprobe -d "$work/x" -S "$release" --show-depends "$module" |
      awk '$1 == "insmod" {print $2}' | while read -r path; do
        relative=${path#"$work/x/lib/modules/$release/"}
        grep -qxF "$relative" "$vm/modules/load-order" && continue
        mkdir -p "$vm/modules/lib/modules/$release/$(dirname "$relative")"
        cp "$path" "$vm/modules/lib/modules/$release/$relative"
        echo "$relative" >>"$vm/modules/load-order"
      done
  done
  cp "$work/x/lib/modules/$release/modules.builtin"* "$work/x/lib/modules/$release/modules.order" \
     "$vm/modules/lib/modules/$release/"
  depmod -b "$vm/modules" "$release"
  cp "$work/x/boot/vmlinuz-$release" "$vm/vmlinuz"
  # The payload of a bzImage made with CONFIG_KERNEL_XZ starts at the first XZ stream magic.
  offset=$(LC_ALL=C grep -abo $'\xfd7zXZ' "$vm/vmlinuz" | head -n1 | cut -d: -f1 || true)
  # xz stops at the stream's end and tail may die of the closed pipe: judge by the result.
  [ -n "$offset" ] &&
    { tail -c +$((offset + 1)) "$vm/vmlinuz" | xz -dc --single-stream >"$vm/vmlinux" 2>/dev/null || true; }
  if [ -s "$vm/vmlinux" ] && [ "$(head -c 4 "$vm/vmlinux" | od -An -c | tr -d ' ')" = '177ELF' ]; then
    :
  else
    echo "vm prepare: no XZ payload in vmlinuz-$release: booting it compressed (slower)"
    rm -f "$vm/vmlinux"
  fi
  echo "$release" >"$vm/release"
  echo "$kernel_id" >"$vm/kernel.id"
  rm -rf "$work"
  trap - EXIT
fi

# The initramfs: busybox, the modules and the init script; the rest comes from the host's root.
initramfs_id="$kernel_id / $(sha256sum "$src/tests/vm/init" | cut -c1-16) / $(busybox 2>&1 | sed -n 1p)"
if [ ! -f "$vm/initramfs.gz" ] || [ "$(cat "$vm/initramfs.id" 2>/dev/null)" != "$initramfs_id" ]; then
  root=$(mktemp -d "$vm/initramfs.XXXXXX")
  trap 'rm -rf "$root"' EXIT
  mkdir -p "$root"/{bin,sbin,dev,proc,sys,host,tmp}
  cp "$(command -v busybox)" "$root/bin/busybox"
  cp -a "$vm/modules/lib" "$root/lib"
  cp "$vm/modules/load-order" "$root/lib/load-order"
  cp "$src/tests/vm/init" "$root/init"
  chmod 0755 "$root/init"
  (cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1 >"$vm/initramfs.gz.new")
  mv "$vm/initramfs.gz.new" "$vm/initramfs.gz"
  echo "$initramfs_id" >"$vm/initramfs.id"
  rm -rf "$root"
  trap - EXIT
fi
echo "vm prepare: $(cat "$vm/kernel.id"), kernel $(cat "$vm/release"), initramfs $(du -k "$vm/initramfs.gz" | cut -f1) KiB"
