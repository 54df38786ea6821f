# Shared by the package checks (check_deb.sh, check_zip.sh): named checks with a count, and the
# comparisons they use.
checks_passed=0
checks_failed=()

begin_checks() {  # begin_checks <package>: skips (77) when it is missing; makes the work dir
  if [[ ! -f $1 ]]; then
    echo "SKIPPED: $1 is missing (run scripts/package.sh)"
    exit 77
  fi
  work=$(mktemp -d /tmp/quarn-package.XXXXXX)
  trap 'rm -rf "$work"' EXIT
}

check() {  # check <what> <command...>: runs the command; on failure shows its output
  local what=$1
  shift
  if "$@" >"$work/check.out" 2>&1; then
    echo "ok    $what"
    checks_passed=$((checks_passed + 1))
  else
    echo "FAIL  $what"
    sed 's/^/      /' "$work/check.out"
    checks_failed+=("$what")
  fi
}

report() {  # report <what>: the closing line; fails when any check failed
  echo "$checks_passed passed, ${#checks_failed[@]} failed: $1"
  ((${#checks_failed[@]} == 0))
}

same_text() {  # same_text <expected> <actual>
  [[ $1 == "$2" ]] && return 0
  diff -u <(printf '%s\n' "$1") <(printf '%s\n' "$2")
  return 1
}

contains_text() {  # contains_text <file> <file whose whole text must appear in it>
  python3 - "$1" "$2" <<'PY'
import sys
def text(path):  # line ends as on Linux, so a Windows copy compares with its source
    with open(path, encoding="utf-8", newline="") as f:
        return f.read().replace("\r\n", "\n")
sys.exit(None if text(sys.argv[2]).strip() in text(sys.argv[1]) else
         f"{sys.argv[1]} does not contain the text of {sys.argv[2]}")
PY
}

crlf_text() {  # crlf_text <file>: every line of the file ends in CR LF
  python3 - "$1" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
sys.exit(None if data.endswith(b"\r\n") and data.count(b"\n") == data.count(b"\r\n") else
         f"{sys.argv[1]}: not every line ends in CR LF")
PY
}

gzip_9n() {  # gzip_9n <file>: no file name or time stamp in the header, the -9 flag set
  python3 - "$1" <<'PY'
import struct, sys
with open(sys.argv[1], "rb") as f:
    magic, method, flags, mtime, extra = struct.unpack("<HBBIB", f.read(9))
problems = [what for what, bad in (("not gzip", magic != 0x8B1F or method != 8),
                                   ("file name stored", flags & 0x08),
                                   ("time stamp stored", mtime != 0),
                                   ("not compressed with -9", extra != 2)) if bad]
sys.exit(", ".join(problems) or None)
PY
}

# Pages are read without hyphenation and with long lines, so that no option is broken apart.
man_text() { MANROFFOPT=-rHY=0 MANWIDTH=200 man -E UTF-8 -l "$1"; }

man_page_renders() {  # man_page_renders <page> <name>: renders, names it, no warning at all
  local out
  out=$(MANROFFOPT=-rHY=0 man --warnings -E UTF-8 -l "$1" 2>"$work/man.err") || return 1
  if [[ -s $work/man.err ]]; then
    cat "$work/man.err"
    return 1
  fi
  grep -q '^NAME' <<<"$out" && grep -qF -- "$2" <<<"$out"
}

man_page_documents_help() {  # man_page_documents_help <page> <program>
  local text help option code missing=()
  text=$(man_text "$1" 2>/dev/null)
  help=$("$2" --help)
  for option in $(grep -oE -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
    grep -qE -- "(^|[^a-z-])$option([^a-z-]|$)" <<<"$text" || missing+=("$option")
  done
  # The help's exit-code table: "N  meaning", one or two columns a line, after "Exit codes:".
  for code in $(sed -n '/^Exit codes:/,$p' <<<"$help" | grep -oE '(^ *| {2,})[0-9]{1,3}  ' |
    tr -d ' '); do
    grep -qE "^ +$code +[^ ]" <<<"$text" || missing+=("exit code $code")
  done
  ((${#missing[@]} == 0)) && return 0
  echo "not in the man page: ${missing[*]}"
  return 1
}
