#!/usr/bin/env bash
# The build's resource check against resource sets compiled here with windres: the window's
# resources with the version resource pass; without it, with another release in it, or with a
# menu, string table or accelerator table added, the check fails for that reason.
# Usage: check_resources_test.sh <source dir> <configured QuarnUpdater version .rc> <version>
# Exits 77 (skipped) only when mingw-w64's windres is not installed.
set -uo pipefail
source_dir=$1
version_rc=$2
version=$3
windres=x86_64-w64-mingw32-windres
command -v "$windres" >/dev/null || { echo "SKIPPED: $windres is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The version resource of a release whose minor version the About box does not name.
sed -e 's/^\(FILEVERSION\|PRODUCTVERSION\) \([0-9]*\), [0-9]*,/\1 \2, 99,/' \
  -e 's/"\([0-9]*\)\.[0-9]*\.\([0-9]*\)"/"\1.99.\2"/' "$version_rc" >"$work/next-minor.rc"
next_minor=${version%%.*}.99.${version##*.}
printf 'STRINGTABLE\nBEGIN\n  1 "text"\nEND\n' >"$work/strings.rc"
printf '200 MENU\nBEGIN\n  MENUITEM "Exit", 1002\nEND\n' >"$work/menu.rc"
printf '201 ACCELERATORS\nBEGIN\n  "X", 1002, VIRTKEY, CONTROL\nEND\n' >"$work/accelerators.rc"

passed=0
failed=0
# case | resource scripts | check options | expected: pass, or the text of the mismatch
while IFS='|' read -r name scripts options expected; do
  [[ -n $name ]] || continue
  : >"$work/$name.rc"
  for script in $scripts; do
    case $script in
      window) echo "#include \"$source_dir/resources/QuarnUpdater.rc\"" ;;
      version) echo "#include \"$version_rc\"" ;;
      *) echo "#include \"$work/$script.rc\"" ;;
    esac >>"$work/$name.rc"
  done
  options=${options//@version@/$version}
  read -r -a check_options <<<"${options//@next_minor@/$next_minor}"
  if ! "$windres" -I "$source_dir/resources" -O res "$work/$name.rc" "$work/$name.res" \
    2>"$work/$name.err"; then
    echo "FAIL  $name: windres: $(cat "$work/$name.err")"
    failed=$((failed + 1))
    continue
  fi
  status=0
  output=$(python3 "$source_dir/resources/check_resources.py" "${check_options[@]}" \
    "$work/$name.res" 2>&1) || status=$?
  ok=0
  if [[ $expected == pass ]]; then
    ((status == 0)) && ok=1
  elif ((status != 0)) && [[ $output == *"$expected"* ]]; then
    ok=1
  fi
  if ((ok)); then
    echo "ok    $name"
    passed=$((passed + 1))
  else
    echo "FAIL  $name: exit status $status, expected $expected: $output"
    failed=$((failed + 1))
  fi
done <<'EOF_CASES'
window-and-version|window version|--version @version@|pass
no-version-resource|window|--version @version@|version resources: found 0, expected 1
another-release|window version|--version 9.9.9|fixed file version
about-box-names-another-release|window next-minor|--version @next_minor@|About box version text
string-table-added|window version strings|--version @version@|resource types
menu-added|window version menu|--version @version@|resource types
accelerators-added|window version accelerators|--version @version@|resource types
version-only-program|version|--version @version@ --only-version-info|pass
version-only-missing|window|--version @version@ --only-version-info|version resources
EOF_CASES

echo "$passed passed, $failed failed"
((failed == 0))
