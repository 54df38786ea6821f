#!/usr/bin/env bash
# The Debian package as a user gets it: its name, fields, contents, owners and modes; unpacked
# with dpkg-deb -x, its stripped quarn-update updates the simulated tester (with its quarn-sim),
# both programs name the package's version, both man pages render with man -l without a warning
# and document every option and exit code that --help lists; the copyright carries both licences;
# the texts are compressed with gzip -9n; the postinst is the guarded one; lintian reports no
# error (its tags are printed).
# Usage: check_deb.sh <packages dir> <source dir> <version>
# Exits 77 (skipped) when the package has not been built (scripts/package.sh builds it).
set -uo pipefail
packages=$1
source_dir=$2
version=$3
deb=$packages/quarn-update_${version}_amd64.deb
# shellcheck source=tests/package/checks.sh
source "$source_dir/tests/package/checks.sh"
begin_checks "$deb"

# --- the package's fields and every entry with its mode and owner -------------------------------
expected_fields="Package: quarn-update
Version: $version
Architecture: amd64"
expected_entries="drwxr-xr-x root/root ./lib/
drwxr-xr-x root/root ./lib/udev/
drwxr-xr-x root/root ./lib/udev/rules.d/
-rw-r--r-- root/root ./lib/udev/rules.d/60-zentrika-quarn.rules
drwxr-xr-x root/root ./usr/
drwxr-xr-x root/root ./usr/bin/
-rwxr-xr-x root/root ./usr/bin/quarn-sim
-rwxr-xr-x root/root ./usr/bin/quarn-update
drwxr-xr-x root/root ./usr/share/
drwxr-xr-x root/root ./usr/share/doc/
drwxr-xr-x root/root ./usr/share/doc/quarn-update/
-rw-r--r-- root/root ./usr/share/doc/quarn-update/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/quarn-update/copyright
drwxr-xr-x root/root ./usr/share/man/
drwxr-xr-x root/root ./usr/share/man/man1/
-rw-r--r-- root/root ./usr/share/man/man1/quarn-sim.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/quarn-update.1.gz"
check "package name, version and architecture" \
  same_text "$expected_fields" "$(dpkg-deb -f "$deb" Package Version Architecture)"
check "entries, modes and owners" \
  same_text "$expected_entries" "$(dpkg-deb -c "$deb" | awk '{print $1, $2, $6}' | LC_ALL=C sort -k3,3)"
# dpkg-shlibdeps names what the binaries link: the C library at least, and no -dev package.
depends=$(dpkg-deb -f "$deb" Depends)
echo "      Depends: $depends"
check "depends from dpkg-shlibdeps" bash -c '[[ $1 == *"libc6 (>= "* && $1 != *-dev* ]]' _ "$depends"

dpkg-deb -x "$deb" "$work/root"
dpkg-deb -e "$deb" "$work/control"
usr=$work/root/usr

# --- binaries ------------------------------------------------------------------------------------
for program in quarn-update quarn-sim; do
  check "$program stripped" bash -c 'file "$1" | grep -q ", stripped"' _ "$usr/bin/$program"
  check "$program --version" same_text "$program $version" "$("$usr/bin/$program" --version)"
done
check "the packaged quarn-update updates the simulated tester" \
  env QUARN_E2E_ONLY='^three-blocks$' bash "$source_dir/tests/e2e/cli_update.sh" "$usr/bin" \
  "$source_dir"

# --- texts ---------------------------------------------------------------------------------------
for text in man/man1/quarn-update.1.gz man/man1/quarn-sim.1.gz doc/quarn-update/changelog.gz; do
  check "$text compressed with gzip -9n" gzip_9n "$usr/share/$text"
done
check "changelog names this version" \
  same_text "quarn-update ($version)" "$(gzip -dc "$usr/share/doc/quarn-update/changelog.gz" |
    head -n1 | cut -d' ' -f1-2)"
copyright=$usr/share/doc/quarn-update/copyright
check "copyright carries the project's MIT licence" contains_text "$copyright" "$source_dir/LICENSE"
check "copyright carries cJSON's licence" \
  contains_text "$copyright" "$source_dir/third_party/cjson/LICENSE"
check "udev rule is the source's" \
  cmp "$work/root/lib/udev/rules.d/60-zentrika-quarn.rules" "$source_dir/dist/linux/60-zentrika-quarn.rules"
check "postinst is the source's" cmp "$work/control/postinst" "$source_dir/dist/linux/postinst"
check "postinst mode 755" same_text 755 "$(stat -c %a "$work/control/postinst")"

# --- man pages -----------------------------------------------------------------------------------
for program in quarn-update quarn-sim; do
  page=$usr/share/man/man1/$program.1.gz
  check "man page $program(1) renders with man -l" man_page_renders "$page" "$program"
  check "man page $program(1) documents --help's options and exit codes" \
    man_page_documents_help "$page" "$usr/bin/$program"
done

# --- lintian -------------------------------------------------------------------------------------
lintian_finds_no_error() {
  lintian --fail-on error --display-info --pedantic "$deb" >"$work/lintian.txt" 2>&1
}
check "lintian reports no error" lintian_finds_no_error
grep -v '^running with root' "$work/lintian.txt" | sed 's/^/      lintian: /'

report "the .deb"
