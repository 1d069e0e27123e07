#!/usr/bin/env bash
# The prefix check of wine_session.sh on made-up dosdevices folders: links
# are only made, never followed, so no device is touched. Each case: the
# links (name=target ...), whether the check passes, the names it reports.
# Usage: wine_session_check_test.sh WINE_SESSION_SH WORK_DIR
set -uo pipefail

session=$1 work=$2
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

cases=(
  "c:=../drive_c z:=/|pass|"
  "com200=/dev/pts/3 com201=/dev/pts/12|pass|"
  "com1=/dev/ttyS0|fail|com1"
  "com5=/dev/ttyS0 com200=/dev/pts/3|fail|com5"
  "com3=/dev/ttyUSB0 com4=/dev/ttyACM1|fail|com3 com4"
  "com9=/dev/ttyS31 com10=/dev/serial/by-id/usb-x|fail|com10 com9"
  "com7=/dev/ttySX|pass|"
  "|pass|"
)
for c in "${cases[@]}"; do
  IFS='|' read -r links want reported <<<"$c"
  dir=$work/dosdevices
  rm -rf "$work"
  mkdir -p "$dir"
  for l in $links; do
    ln -s "${l#*=}" "$dir/${l%%=*}"
  done
  # A plain file that names a serial line is no link.
  echo /dev/ttyS0 >"$dir/notes"
  if bash "$session" check "$dir" 2>"$work/err"; then got=pass; else got=fail; fi
  [[ $got == "$want" ]] || fail "[$links]: check ${got}ed, wanted $want"
  names=$(sed -n 's/^\([^ ]*\) -> .*/\1/p' "$work/err" | sort | tr '\n' ' ')
  [[ $names == "${reported:+$reported }" ]] || fail "[$links]: reported '$names', wanted '$reported'"
done

if ((failures > 0)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "prefix check: all cases as expected"
