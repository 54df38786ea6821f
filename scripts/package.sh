#!/usr/bin/env bash
# Builds both release packages into build/packages: quarn-update_<version>_amd64.deb from the
# hardened release build (build/release) and QuarnUpdater-<version>-win64.zip from the Windows
# build (build/windows). The test command checks both (tests/package).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
out=$PWD/build/packages
for preset in release windows; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
done
rm -rf "$out"
for preset in release windows; do
  cpack --config "build/$preset/CPackConfig.cmake" -B "$out"
done
rm -rf "$out/_CPack_Packages"
echo "Packages in build/packages:"
ls -l "$out"
