# Sourced by the zlm-read.exe tests under Wine. Expects: wine_run, prefix,
# exe (zlm-read.exe), sim (the Linux simulator), work (the test's directory).
# Gives: a fresh work directory, the simulator's COM link (wine_com_link.sh),
# fail, read_meter, fixed (the simulator's fixed readings as JSON),
# expect_ninth_bits and finish.

rm -rf "$work"
mkdir -p "$work/config"
export XDG_CONFIG_HOME=$work/config # the simulator's own COM link goes here

failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

source "$(dirname "${BASH_SOURCE[0]}")/wine_com_link.sh"

# Runs zlm-read.exe; sets out (CR removed), err and code.
read_meter() {
  "$wine_run" "$exe" "$@" >"$work/read.out" 2>"$work/read.err"
  code=$?
  out=$(tr -d '\r' <"$work/read.out")
  err=$(tr -d '\r' <"$work/read.err")
}

# A reading's JSON from "status" on, with the values start_simulator fixes.
fixed='"status":"ok","volume_m3":1234.5678,"volume_l":98765432.0,"hours":8760.25,'
fixed+='"flow_m3h":12.5,"flow_lmin":208.33333,"flow_percent":17.68,"nominal_diameter":50.0}'

# Every request the simulator heard (its traffic log) had its address byte,
# ADDRESS in hex, with mark parity and its code and checksum with space; and
# BYTES bytes were heard in all. expect_ninth_bits ADDRESS BYTES
expect_ninth_bits() {
  awk -v address="$1" -v bytes="$2" '$2 == "rx" {
         n++; i = (n - 1) % 3
         if (i == 0 && (tolower($3) != address || $4 != "mark")) bad++
         if (i != 0 && $4 != "space") bad++
       }
       END {exit !(n == bytes && bad == 0)}' "$work/traffic.log" ||
    fail "ninth bits: $(grep -c ' rx ' "$work/traffic.log") bytes heard; log in $work/traffic.log"
}

# Ends the test: 1 with the number of failed checks, else 0.
finish() {
  if ((failures > 0)); then
    echo "$failures check(s) failed; files in $work" >&2
    exit 1
  fi
  echo "$1: all checks passed"
  exit 0
}
