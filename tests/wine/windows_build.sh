# Sourced by the end-to-end scripts that run the Windows programs under Wine.
# prepare_windows_build <source dir> <windows build dir>: exits 77 (skipped) when Wine is not
# installed; otherwise builds the windows preset there (configuring it first if needed), quietly
# unless that fails, which exits 1.
prepare_windows_build() {
  local source_dir=$1 windows_build=$2 build_log
  if ! command -v wine >/dev/null 2>&1; then
    echo "SKIPPED: wine is not installed, so the Windows programs cannot be run here"
    exit 77
  fi
  build_log=$(mktemp /tmp/quarn-windows-build.XXXXXX)
  if [[ ! -f $windows_build/build.ninja ]]; then
    (cd "$source_dir" && cmake --preset windows -B "$windows_build") >"$build_log" 2>&1 ||
      { cat "$build_log"; rm -f "$build_log"; echo "FAIL: configuring the windows preset"; exit 1; }
  fi
  cmake --build "$windows_build" -j2 >"$build_log" 2>&1 ||
    { cat "$build_log"; rm -f "$build_log"; echo "FAIL: building the windows preset"; exit 1; }
  rm -f "$build_log"
}
