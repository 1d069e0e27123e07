#!/usr/bin/env bash
# zlm-read.exe under Wine through Debian's ser2net (RFC 2217) on 127.0.0.1 in
# front of the Linux zlm-meter-sim (its --rfc2217): the values, the ninth bit
# of every request byte as the simulator heard it, and the cause when nothing
# listens at the address.
# Usage: windows_rfc2217.sh WINE_RUN WINEPREFIX ZLM_READ_EXE ZLM_METER_SIM WORK_DIR
set -uo pipefail

wine_run=$1 prefix=$2 exe=$3 sim=$4 work=$5
source "$(dirname "$0")/../support/windows_read_test.sh"

# 1. One cycle through the server.
start_simulator --address 3 --rfc2217
read -r _ _ url <"$work/sim.out"
[[ $url == rfc2217://127.0.0.1:* ]] || fail "no server address from the simulator: $(cat "$work/sim.err")"
read_meter --port "$url" --address 3 --format json
stop_simulator
[[ $code == 0 ]] || fail "through ser2net: exit $code ($err)"
grep -q "\"port\":\"$url\",\"address\":3,$fixed" <<<"$out" || fail "through ser2net: output $out"
expect_ninth_bits 03 21

# 2. The server is gone: refused, with its cause.
read_meter --port "$url" --address 3
[[ $code == 4 ]] || fail "no server: exit $code ($err)"
[[ $err == "No free COM ports"$'\n'"cause: nothing accepts connections at $url"* ]] ||
  fail "no server: stderr $err"

finish "zlm-read.exe through ser2net under Wine"
