#!/usr/bin/env bash
# zlm-read.exe under Wine against the Linux zlm-meter-sim: Wine reaches the
# simulator's pseudo-terminal as COMn through a link in the prefix's
# dosdevices. Checks the values, the ninth bits the simulator heard, the
# failure messages and exit codes, and Ctrl+C during a repeating read.
# Usage: windows_end_to_end.sh WINE_RUN WINEPREFIX ZLM_READ_EXE ZLM_METER_SIM WORK_DIR
set -uo pipefail

wine_run=$1 prefix=$2 exe=$3 sim=$4 work=$5
rm -rf "$work"
mkdir -p "$work/config"
export XDG_CONFIG_HOME=$work/config # the simulator's own COM link goes here

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# The first run makes the prefix; --help must work without a port.
"$wine_run" "$exe" --help >"$work/help.out" 2>&1 || fail "--help: exit $?"
grep -q 'Exit codes' "$work/help.out" || fail "--help text"

source "$(dirname "$0")/../support/wine_com_link.sh"

# Runs zlm-read.exe; sets out (CR removed), err and code.
read_meter() {
  "$wine_run" "$exe" "$@" >"$work/read.out" 2>"$work/read.err"
  code=$?
  out=$(tr -d '\r' <"$work/read.out")
  err=$(tr -d '\r' <"$work/read.err")
}

# The message may be followed by one line that explains it.
expect() { # expect WHAT WANTED_CODE WANTED_ERR
  [[ $code == "$2" ]] || fail "$1: exit $code, wanted $2 (stderr: $err)"
  [[ ${err%%$'\n'*} == "$3" ]] || fail "$1: stderr '$err', wanted '$3'"
  [[ $err != *$'\n'* || ${err#*$'\n'} =~ ^(cause|hint):\ [^$'\n']*$ ]] ||
    fail "$1: stderr '$err', wanted '$3' and at most a cause or hint"
}

fixed='"volume_m3":1234.5678,"volume_l":98765432.0,"hours":8760.25,"flow_m3h":12.5,'
fixed+='"flow_lmin":208.33333,"flow_percent":17.68,"nominal_diameter":50.0}'

# 1. Two cycles, two seconds apart, with the simulator's values.
start_simulator --address 9
read_meter --port "COM$com" --address 255 --count 2 --format json
stop_simulator
expect "two cycles" 0 ""
[[ $(grep -c "\"port\":\"COM$com\",\"address\":255,$fixed" <<<"$out") == 2 ]] ||
  fail "two cycles: output $out"
secs=$(sed -n 's/.*"time":"[^"]*T\([0-9]*\):\([0-9]*\):\([0-9.]*\)[+-].*/\1 \2 \3/p' <<<"$out" |
  awk '{print $1 * 3600 + $2 * 60 + $3}')
gap=$(awk 'NR == 1 {a = $1} NR == 2 {print $1 - a}' <<<"$secs")
awk -v g="$gap" 'BEGIN {exit !(g >= 1.9 && g <= 2.5)}' || fail "cycles $gap s apart, wanted 2"
# Every request: address byte with mark, code and checksum with space.
awk '$2 == "rx" {
       n++; i = (n - 1) % 3
       if (i == 0 && ($3 != "ff" && $3 != "FF" || $4 != "mark")) bad++
       if (i != 0 && $4 != "space") bad++
     }
     END {exit !(n == 42 && bad == 0)}' "$work/traffic.log" ||
  fail "ninth bits: $(grep -c ' rx ' "$work/traffic.log") bytes heard; log in $work/traffic.log"

# 2. Failures: their messages and exit codes.
for c in "silent|1|No answer from ZLM" "position|1|Error reading (mnogitel>8)"; do
  IFS='|' read -r fault want_code want_err <<<"$c"
  start_simulator --address 3 --fault "$fault"
  read_meter --port "COM$com" --address 3 --format csv
  stop_simulator
  expect "fault $fault" "$want_code" "$want_err"
done
read_meter --port "COM$com" --address 32
expect "address 32" 3 "Incorrect Adres ZLM"
read_meter --port "COM$com" --address 1
expect "no such port" 4 "No free COM ports"
[[ $err == *$'\n'"cause: no serial device has the number COM$com; pick a port Device Manager"* ]] ||
  fail "no such port: no cause line in '$err'"

# 3. A COM link to something that is no serial line is refused, untouched.
: >"$work/plain-file"
for target in "$work/plain-file" /dev/null; do
  ln -sfn "$target" "$link"
  read_meter --port "COM$com" --address 1
  expect "COM link to $target" 4 "No free COM ports"
done
[[ ! -s $work/plain-file ]] || fail "a plain file behind a COM link was written"
rm -f "$link"

# 4. Ctrl+C during a repeating read ends it after the cycle in progress.
start_simulator --address 5
"$wine_run" "$exe" --port "COM$com" --address 5 --interval 1 --format csv \
  >"$work/read.out" 2>"$work/read.err" &
reader=$!
sleep 2.6
kill -INT "$reader"
wait "$reader"
code=$?
stop_simulator
rows=$(tr -d '\r' <"$work/read.out" | grep -c ",COM$com,5,1234.5678,")
[[ $code == 0 ]] || fail "Ctrl+C: exit $code ($(cat "$work/read.err"))"
((rows >= 1)) || fail "Ctrl+C: $rows complete rows"
heard=$(grep -c ' rx ' "$work/traffic.log")
((heard % 21 == 0 && heard / 21 == rows)) ||
  fail "Ctrl+C: $heard bytes heard for $rows cycles (a cycle was cut short)"

if ((failures > 0)); then
  echo "$failures check(s) failed; files in $work" >&2
  exit 1
fi
echo "zlm-read.exe end to end under Wine: all checks passed"
