#!/usr/bin/env bash
# The .deb's postinst against a stand-in udevadm: it reloads the rules and replays the tty events
# only on configure and only when a udev daemon answers, and it never fails the installation.
# Usage: postinst_test.sh <postinst>
set -uo pipefail
postinst=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The stand-in answers the ping as its mode says, fails every other call in mode "failing", and
# logs each call. Only it and the shell's built-ins are on the postinst's PATH.
mkdir -p "$work/with-udevadm" "$work/without-udevadm"
cat >"$work/with-udevadm/udevadm" <<'EOF'
#!/bin/sh
echo "$*" >>"$UDEVADM_LOG"
case "$UDEVADM_MODE:$*" in
  no-daemon:"control --ping") exit 1 ;;
  failing:"control --ping") exit 0 ;;
  failing:*) exit 1 ;;
esac
exit 0
EOF
chmod +x "$work/with-udevadm/udevadm"

reload=$'control --ping\ncontrol --reload-rules\ntrigger --subsystem-match=tty --action=change'
passed=0
failed=0
# case name | postinst argument | PATH | udevadm mode | calls expected
while IFS='|' read -r name argument path mode expected; do
  [[ -n $name ]] || continue
  log=$work/$name.log
  : >"$log"
  status=0
  env -i PATH="$work/$path" UDEVADM_LOG="$log" UDEVADM_MODE="$mode" /bin/sh "$postinst" \
    "$argument" >"$work/$name.out" 2>&1 || status=$?
  calls=$(cat "$log")
  expected=$(printf '%b' "$expected")
  if ((status == 0)) && [[ $calls == "$expected" ]]; then
    echo "ok    $name"
    passed=$((passed + 1))
  else
    echo "FAIL  $name: exit status $status; calls:"
    printf '%s\n' "$calls" | sed 's/^/        /'
    echo "      expected:"
    printf '%s\n' "$expected" | sed 's/^/        /'
    sed 's/^/      output: /' "$work/$name.out"
    failed=$((failed + 1))
  fi
done <<EOF
udev-running|configure|with-udevadm|ok|${reload//$'\n'/\\n}
no-udev-daemon|configure|with-udevadm|no-daemon|control --ping
no-udevadm|configure|without-udevadm|ok|
udevadm-calls-fail|configure|with-udevadm|failing|${reload//$'\n'/\\n}
not-configure|abort-upgrade|with-udevadm|ok|
EOF

echo "$passed passed, $failed failed"
((failed == 0))
