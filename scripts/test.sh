#!/usr/bin/env bash
# Every test: installs what is missing, builds both targets (Linux with sanitizers, Windows with
# mingw-w64) and the release packages, and runs the unit tests, the end-to-end updates against
# the simulated tester, the Windows programs' scenarios under Wine, one update with the hardened
# release binary, the checks of the .deb and the Windows zip, and then every fuzz harness for a
# fixed budget.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs"
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs"
bash scripts/package.sh
ctest --preset native -j1 "$@"
bash scripts/fuzz.sh --check
