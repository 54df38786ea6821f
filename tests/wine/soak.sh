#!/usr/bin/env bash
# The long soak of the Windows program under Wine, run by hand (not in the test command): many
# sessions in one QuarnUpdater.exe process through its window, then the handle count after the
# checkpoint and after the last session, and resident memory at both (see soak_sessions.sh).
#
# Usage: soak.sh <windows build dir> <native build dir> <source dir> [sessions] [checkpoint]
#   defaults: 300 sessions, first checkpoint after session 20. Logs stay in $QUARN_SOAK_KEEP (a
#   directory) when it is set.
set -euo pipefail

windows_build=$(cd "$1" && pwd)
native_build=$(cd "$2" && pwd)
source_dir=$(cd "$3" && pwd)
sessions=${4:-300}
checkpoint=${5:-20}

app_exe=$windows_build/QuarnUpdater.exe
helpers=$windows_build/tests/wine
sim=$native_build/quarn-sim
# shellcheck source=tests/wine/wine_env.sh
source "$source_dir/tests/wine/wine_env.sh"
# shellcheck source=tests/wine/soak_sessions.sh
source "$source_dir/tests/wine/soak_sessions.sh"

status=0
run_soak "$sessions" "$checkpoint" || status=1
if [[ -n ${QUARN_SOAK_KEEP:-} ]]; then
  mkdir -p "$QUARN_SOAK_KEEP"
  cp -r "$work/s/soak-$sessions" "$QUARN_SOAK_KEEP/"
  rm -f "$QUARN_SOAK_KEEP/soak-$sessions/program/QuarnUpdater.exe"
fi
exit $status
