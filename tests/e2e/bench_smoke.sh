#!/usr/bin/env bash
# Keeps the benchmark from rotting: runs scripts/bench.sh once on a tiny image with this build's
# binaries. Every row must complete its update; the figures are printed, never judged (timing on a
# shared machine proves nothing).
# Usage: bench_smoke.sh <directory of the native binaries> <source directory>
# Exits 77 (skipped) only when Wine is not installed.
set -euo pipefail
native_build=$1
source_dir=$2
windows_build=${QUARN_WINDOWS_BUILD:-$source_dir/build/windows}
if ! command -v wine >/dev/null 2>&1; then
  echo "SKIPPED: wine is not installed, so the Windows program's row cannot be run"
  exit 77
fi
exec bash "$source_dir/scripts/bench.sh" --release-build "$native_build" \
  --windows-build "$windows_build" --unpaced-blocks 30 --paced-blocks 10
