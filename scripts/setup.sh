#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, run and test Quarn Updater,
# and fetches cJSON 1.7.18 from the Debian archive's source package into third_party/.
# Safe to run again: every step checks first and a second run takes seconds.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
sudo_cmd=""
[ "$(id -u)" = 0 ] || sudo_cmd="sudo"

# libclang-rt-14-dev holds clang's fuzzer and sanitizer runtimes; it is only a recommendation of
# clang-14, so --no-install-recommends leaves it out unless it is named.
packages=(cmake ninja-build g++ googletest libgtest-dev mingw-w64 wine wine64 xvfb
          xauth imagemagick fonts-wine dpkg-dev python3 clang-format clang-14 libclang-rt-14-dev)
# Packaging and its checks: CPack's .deb (file, dpkg-shlibdeps from dpkg-dev), lintian,
# hardening-check (devscripts, reading binaries with binutils), man -l, the Windows zip.
packages+=(file binutils lintian devscripts man-db groff-base zip unzip)
# The gadget tests' virtual machine (tests/vm): QEMU without its recommendations, a static
# busybox for the initramfs, udev for the VM's /dev, kmod's depmod for the extracted kernel, xz
# for its payload. The kernel itself is fetched by tests/vm/prepare.sh, never installed.
packages+=(qemu-system-x86 busybox-static udev kmod xz-utils)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# cJSON comes as a source package; its deb-src entry is derived from the machine's own
# Debian entry so that whichever mirror the machine uses is kept.
src_list=/etc/apt/sources.list.d/quarn-cjson-src.sources
need_update=0
if [ ! -f "$src_list" ]; then
  uri=""
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    u=$(awk '/^URIs:/{for(i=2;i<=NF;i++) if ($i ~ /\/debian\/?$/) {print $i; exit}}' "$f")
    if [ -n "$u" ]; then uri=$u; keyring=$(awk '/^Signed-By:/{print $2; exit}' "$f"); break; fi
  done
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(awk '$1=="deb" && $2 ~ /\/debian\/?$/ {print $2; exit}' /etc/apt/sources.list)
  fi
  [ -n "$uri" ] || { echo "setup: no Debian archive entry found in the apt sources" >&2; exit 1; }
  {
    echo "Types: deb-src"
    echo "URIs: $uri"
    echo "Suites: bookworm trixie"
    echo "Components: main"
    [ -n "${keyring:-}" ] && echo "Signed-By: $keyring"
  } | $sudo_cmd tee "$src_list" >/dev/null
  need_update=1
fi

if [ ${#missing[@]} -gt 0 ] || [ $need_update = 1 ]; then
  $sudo_cmd apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

cjson_dir="$here/third_party/cjson"
if [ ! -f "$cjson_dir/cJSON.c" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  version=$(apt-cache showsrc cjson 2>/dev/null | awk '/^Version: 1\.7\.18-/{print $2}' | sort -V | tail -n 1)
  if [ -z "$version" ]; then
    $sudo_cmd apt-get update -qq
    version=$(apt-cache showsrc cjson | awk '/^Version: 1\.7\.18-/{print $2}' | sort -V | tail -n 1)
  fi
  [ -n "$version" ] || { echo "setup: no cjson 1.7.18 source package found" >&2; exit 1; }
  (cd "$work" && apt-get source --download-only -qq "cjson=$version" >/dev/null &&
     dpkg-source --no-check -x ./*.dsc unpacked >/dev/null)
  rm -rf "$cjson_dir" && mkdir -p "$cjson_dir"
  cp "$work/unpacked/cJSON.c" "$work/unpacked/cJSON.h" "$work/unpacked/LICENSE" "$cjson_dir/"
  echo "$version" > "$cjson_dir/VERSION"
  echo "setup: cJSON $version unpacked into third_party/cjson"
fi
