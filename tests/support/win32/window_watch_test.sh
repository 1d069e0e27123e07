#!/usr/bin/env bash
# The window tests' watch: a case that does not end within its time is ended
# with exit code 3, after the log has named the case and shown what was on
# the screen (the message box it waits on, with its caption, text and button).
# Usage: window_watch_test.sh WINE_RUN PROBE_EXE LIMIT_S WORK_DIR
set -uo pipefail

wine_run=$1 probe=$2 limit=$3 work=$4
mkdir -p "$work"
start=$(date +%s)
timeout -k 5 120 "$wine_run" "$probe" >"$work/probe.out" 2>&1
code=$?
took=$(($(date +%s) - start))
out=$(tr -d '\r' <"$work/probe.out")

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
[[ $code == 3 ]] || fail "exit $code, wanted 3"
((took >= limit)) || fail "ended after $took s, before its limit of $limit s"
for wanted in "WindowWatchProbe.BoxNobodyAnswers did not end within $limit s; on the screen:" \
  '  window #32770: "Error"' '    Static 65535: "Порты заняты"' '    Button 1: "OK"'; do
  grep -qF -- "$wanted" <<<"$out" || fail "no line '$wanted'"
done
[[ $out != *"[       OK ]"* && $out != *"[  FAILED  ]"* ]] || fail "the case ended on its own"

if ((failures > 0)); then
  echo "$failures check(s) failed; the probe said:" >&2
  echo "$out" >&2
  exit 1
fi
echo "window watch: the case was ended after $took s with the screen in the log"
