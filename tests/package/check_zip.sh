#!/usr/bin/env bash
# The Windows zip as a user gets it: exactly the programs and texts it should hold, in one folder;
# the programs' resources pass the build's check (the version resource names this release); the
# texts have Windows line ends and carry both licences; and, unpacked, its QuarnUpdater.exe
# updates the simulated tester under Wine with its own ReadMe.txt in the current directory, so
# the banner shows the release's version.
# Usage: check_zip.sh <packages dir> <windows build dir> <native build dir> <source dir> <version>
# Exits 77 (skipped) when the zip has not been built (scripts/package.sh builds it).
set -uo pipefail
packages=$1
windows_build=$2
native_build=$3
source_dir=$4
version=$5
folder=QuarnUpdater-$version-win64
zip=$packages/$folder.zip
# shellcheck source=tests/package/checks.sh
source "$source_dir/tests/package/checks.sh"
begin_checks "$zip"

# The console program travels with the window when the Windows build makes one.
programs=(QuarnUpdater.exe)
[[ -f $windows_build/quarn-update.exe ]] && programs+=(quarn-update.exe)
expected_entries=$(printf "$folder/%s\n" "${programs[@]}" LICENSE.txt ReadMe.txt \
  THIRD-PARTY-NOTICES.txt | LC_ALL=C sort)
check "entries" same_text "$expected_entries" "$(unzip -Z1 "$zip" | LC_ALL=C sort)"

unzip -q "$zip" -d "$work"
unpacked=$work/$folder
check "QuarnUpdater.exe resources, version $version" \
  python3 "$source_dir/resources/check_resources.py" --version "$version" "$unpacked/QuarnUpdater.exe"
if [[ -f $unpacked/quarn-update.exe ]]; then
  check "quarn-update.exe version resource, version $version" \
    python3 "$source_dir/resources/check_resources.py" --version "$version" --only-version-info \
    "$unpacked/quarn-update.exe"
fi
for text in LICENSE.txt ReadMe.txt THIRD-PARTY-NOTICES.txt; do
  check "$text has Windows line ends" crlf_text "$unpacked/$text"
done
check "LICENSE.txt is the project's licence" contains_text "$unpacked/LICENSE.txt" "$source_dir/LICENSE"
check "THIRD-PARTY-NOTICES.txt carries cJSON's licence" \
  contains_text "$unpacked/THIRD-PARTY-NOTICES.txt" "$source_dir/third_party/cjson/LICENSE"

# One update under Wine with the unpacked program and the shipped ReadMe.txt: the success
# scenario expects the banner "VIVozezur Version: 3.8".
wine_success() {
  QUARN_WINE_APP=$unpacked/QuarnUpdater.exe QUARN_WINE_README=$unpacked/ReadMe.txt \
    QUARN_WINE_ONLY='^success$' QUARN_WINE_ARTIFACTS=$work/wine-artifacts \
    bash "$source_dir/tests/wine/run_scenarios.sh" "$windows_build" "$native_build" "$source_dir" \
    >"$work/wine.log" 2>&1
  local status=$?
  cat "$work/wine.log"
  ((status == 0)) && grep -q '^ok  *success ' "$work/wine.log"
}
check "the unpacked QuarnUpdater.exe updates the simulated tester under Wine" wine_success
grep -E '^(ok|FAIL) ' "$work/wine.log" | sed 's/^/      wine: /'

report "the Windows zip"
