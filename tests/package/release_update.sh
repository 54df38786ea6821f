#!/usr/bin/env bash
# The hardened release binaries (build/release): hardening-check passes on both, and the release
# quarn-update updates the simulated tester once, end to end.
# Usage: release_update.sh <release build dir> <source dir>
# Exits 77 (skipped) when the release build is missing (scripts/package.sh makes it).
set -uo pipefail
release=$1
source_dir=$2
if [[ ! -x $release/quarn-update || ! -x $release/quarn-sim ]]; then
  echo "SKIPPED: no release build in $release (run scripts/package.sh)"
  exit 77
fi

failed=0
# Debian 12's C start files carry no CET marking, so no program linked on it gets the control-flow
# property; everything else (PIE, stack protector, fortify, RELRO, immediate binding) must hold.
hardening-check --nocfprotection "$release/quarn-update" "$release/quarn-sim" || failed=1
QUARN_E2E_ONLY='^one-megabyte$' bash "$source_dir/tests/e2e/cli_update.sh" "$release" \
  "$source_dir" || failed=1
((failed == 0))
