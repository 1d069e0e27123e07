#!/usr/bin/env bash
# zlm-read.exe under Wine through Debian's ser2net (RFC 2217) on 127.0.0.1 in
# front of the Linux zlm-meter-sim (its --rfc2217): the values, the ninth bit
# of every request byte as the simulator heard it, and the cause when nothing
# listens at the address.
# Usage: windows_rfc2217.sh WINE_RUN WINEPREFIX ZLM_READ_EXE ZLM_METER_SIM WORK_DIR
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

source "$(dirname "$0")/../support/wine_com_link.sh"

read_meter() {
  "$wine_run" "$exe" "$@" >"$work/read.out" 2>"$work/read.err"
  code=$?
  out=$(tr -d '\r' <"$work/read.out")
  err=$(tr -d '\r' <"$work/read.err")
}

fixed='"volume_m3":1234.5678,"volume_l":98765432.0,"hours":8760.25,"flow_m3h":12.5,'
fixed+='"flow_lmin":208.33333,"flow_percent":17.68,"nominal_diameter":50.0}'

# 1. One cycle through the server.
start_simulator --address 3 --rfc2217
read -r _ _ url <"$work/sim.out"
[[ $url == rfc2217://127.0.0.1:* ]] || fail "no server address from the simulator: $(cat "$work/sim.err")"
read_meter --port "$url" --address 3 --format json
stop_simulator
[[ $code == 0 ]] || fail "through ser2net: exit $code ($err)"
grep -q "\"port\":\"$url\",\"address\":3,$fixed" <<<"$out" || fail "through ser2net: output $out"
awk '$2 == "rx" {
       n++; i = (n - 1) % 3
       if (i == 0 && ($3 != "03" || $4 != "mark")) bad++
       if (i != 0 && $4 != "space") bad++
     }
     END {exit !(n == 21 && bad == 0)}' "$work/traffic.log" ||
  fail "ninth bits: $(grep -c ' rx ' "$work/traffic.log") bytes heard; log in $work/traffic.log"

# 2. The server is gone: refused, with its cause.
read_meter --port "$url" --address 3
[[ $code == 4 ]] || fail "no server: exit $code ($err)"
[[ $err == "No free COM ports"$'\n'"cause: nothing accepts connections at $url"* ]] ||
  fail "no server: stderr $err"

if ((failures > 0)); then
  echo "$failures check(s) failed; files in $work" >&2
  exit 1
fi
echo "all checks passed"
