#!/usr/bin/env bash
# zlm-reader.exe under Wine (with a display) against the Linux zlm-meter-sim,
# driven through window messages by reader_exe_driver.exe: pick the port,
# type 255, start reading, and find the simulator's seven values in the
# fields; then the failure box of a bad address, with its exact texts.
# Usage: reader_exe_end_to_end.sh WINE_RUN WINEPREFIX ZLM_READER_EXE DRIVER_EXE ZLM_METER_SIM WORK_DIR
set -uo pipefail

wine_run=$1 prefix=$2 exe=$3 driver=$4 sim=$5 work=$6
rm -rf "$work"
mkdir -p "$work/config"
export XDG_CONFIG_HOME=$work/config # the simulator's own COM link goes here
source "$(dirname "$0")/../../support/wine_com_link.sh"

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

# Runs the driver; sets out (CR removed) and code. The driver gives up on
# its own well within this limit; should it not come back, the test says
# what was on the screen and which Wine processes ran, and goes on.
drive() {
  echo "$(date +%T) driver: COM$com $*"
  timeout -k 10 120 "$wine_run" "$driver" "Z:${exe//\//\\}" "COM$com" "$@" >"$work/drive.out" \
    2>"$work/drive.err"
  code=$?
  out=$(tr -d '\r' <"$work/drive.out")
  if ((code == 124 || code == 137)); then
    fail "the driver did not come back within 120 s; on the screen:
$(timeout -k 5 30 "$wine_run" "$driver" --screen 2>&1 | tr -d '\r')
Wine processes:
$(ps -eo pid,etime,stat,args | grep -iE '[.]exe|wineserver' | cut -c1-160)"
    timeout -k 5 30 "$wine_run" taskkill /f /im zlm-reader.exe >/dev/null 2>&1
  fi
}

start_simulator --address 9
drive 255 --about
stop_simulator
[[ $code == 0 ]] || fail "reading: driver exit $code: $(cat "$work/drive.err")"
want="field 1019 1234.5678
field 1020 98765432
field 1021 8760.25
field 1022 12.5
field 1023 208.33333
field 1024 17.68
field 1025 50
about 32x32
exit 0"
[[ $out == "$want" ]] || fail "reading: got
$out
wanted
$want"

start_simulator --address 9
drive 254
stop_simulator
[[ $code == 0 && $out == $'box Error|Incorrect Adres ZLM\nexit 0' ]] ||
  fail "address 254: exit $code, got: $out"

if ((failures > 0)); then
  echo "$failures check(s) failed; files in $work" >&2
  exit 1
fi
echo "zlm-reader.exe end to end under Wine: all checks passed"
