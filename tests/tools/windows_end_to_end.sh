#!/usr/bin/env bash
# zlm-read.exe under Wine against the Linux zlm-meter-sim: Wine reaches the
# simulator's pseudo-terminal as COMn through a link in the prefix's
# dosdevices. Checks the values, the ninth bits the simulator heard, the
# failure messages and exit codes, Ctrl+C during a repeating read, and a line
# that goes away and comes back.
# Usage: windows_end_to_end.sh WINE_RUN WINEPREFIX ZLM_READ_EXE ZLM_METER_SIM WORK_DIR
set -uo pipefail

wine_run=$1 prefix=$2 exe=$3 sim=$4 work=$5
source "$(dirname "$0")/../support/windows_read_test.sh"

# --help must work without a port.
"$wine_run" "$exe" --help >"$work/help.out" 2>&1 || fail "--help: exit $?"
grep -q 'Exit codes' "$work/help.out" || fail "--help text"

# The message may be followed by one line that explains it.
expect() { # expect WHAT WANTED_CODE WANTED_ERR
  [[ $code == "$2" ]] || fail "$1: exit $code, wanted $2 (stderr: $err)"
  [[ ${err%%$'\n'*} == "$3" ]] || fail "$1: stderr '$err', wanted '$3'"
  [[ $err != *$'\n'* || ${err#*$'\n'} =~ ^(cause|hint):\ [^$'\n']*$ ]] ||
    fail "$1: stderr '$err', wanted '$3' and at most a cause or hint"
}

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
expect_ninth_bits ff 42

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
# Ctrl+C once the first row is out (Wine's start takes its time on a busy
# machine), so the second cycle is due or under way.
for _ in $(seq 600); do
  grep -q ",COM$com,5,1234.5678," "$work/read.out" && break
  kill -0 "$reader" 2>/dev/null || break
  sleep 0.1
done
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

# 5. The simulator killed under a repeating read and started again: the
# reader says the line is lost, opens it again by its COM number and reads on.
# Waits for what the reader writes, up to a minute: wait_for FILE PATTERN.
wait_for() {
  for _ in $(seq 600); do
    tr -d '\r' <"$1" | grep -q -- "$2" && return 0
    kill -0 "$reader" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
start_simulator --address 5
"$wine_run" "$exe" --port "COM$com" --address 5 --interval 0.5 --format csv \
  >"$work/read.out" 2>"$work/read.err" &
reader=$!
wait_for "$work/read.out" ",COM$com,5,1234.5678," || fail "line lost: no first reading"
kill -KILL "$sim_pid"
wait "$sim_pid" 2>/dev/null
sim_pid=
wait_for "$work/read.err" "COM$com lost; opening it again" || fail "line lost: not noticed"
before=$(grep -c ",COM$com,5,1234.5678," "$work/read.out")
start_simulator --address 5
wait_for "$work/read.err" "COM$com open again after" || fail "line lost: not opened again"
for _ in $(seq 600); do
  (($(grep -c ",COM$com,5,1234.5678," "$work/read.out") > before)) && break
  sleep 0.1
done
(($(grep -c ",COM$com,5,1234.5678," "$work/read.out") > before)) ||
  fail "line lost: no reading after it came back ($(tr -d '\r' <"$work/read.err"))"
kill -INT "$reader"
wait "$reader"
stop_simulator
grep -q "did not keep 9600 baud" "$work/read.err" && fail "line lost: told as settings not kept"

finish "zlm-read.exe end to end under Wine"
