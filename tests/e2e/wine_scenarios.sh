#!/usr/bin/env bash
# The Windows program under Wine: builds the windows preset (or uses $QUARN_WINDOWS_BUILD) and
# runs the scenario table of tests/wine/run_scenarios.sh against this build's quarn-sim.
# Usage: wine_scenarios.sh <directory of the native binaries> <source directory>
# Exits 77 (skipped) only when Wine is not installed.
set -euo pipefail
native_build=$1
source_dir=$2
windows_build=${QUARN_WINDOWS_BUILD:-$source_dir/build/windows}

# shellcheck source=tests/wine/windows_build.sh
source "$source_dir/tests/wine/windows_build.sh"
prepare_windows_build "$source_dir" "$windows_build"

exec bash "$source_dir/tests/wine/run_scenarios.sh" "$windows_build" "$native_build" "$source_dir"
