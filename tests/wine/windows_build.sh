# Sourced by the end-to-end scripts that run the Windows programs under Wine: builds the windows
# preset into the given directory (configuring it first if needed), quietly unless it fails.
ensure_windows_build() {  # ensure_windows_build <source dir> <windows build dir>
  local source_dir=$1 windows_build=$2 build_log
  build_log=$(mktemp /tmp/quarn-windows-build.XXXXXX)
  if [[ ! -f $windows_build/build.ninja ]]; then
    (cd "$source_dir" && cmake --preset windows -B "$windows_build") >"$build_log" 2>&1 ||
      { cat "$build_log"; rm -f "$build_log"; echo "FAIL: configuring the windows preset"; return 1; }
  fi
  cmake --build "$windows_build" -j2 >"$build_log" 2>&1 ||
    { cat "$build_log"; rm -f "$build_log"; echo "FAIL: building the windows preset"; return 1; }
  rm -f "$build_log"
}
