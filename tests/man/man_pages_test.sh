#!/usr/bin/env bash
# Renders the built manual pages as man does and checks what the build put
# into them: groff has nothing to warn about; the section SERIAL PORTS
# carries each "##" section of the serial ports guide as a subsection, all
# but the Windows one, with no Markdown or link target left over; the exit
# codes are listed once, under EXIT STATUS, whatever --help says of them.
#
# Usage: man_pages_test.sh GUIDE PAGE...
set -uo pipefail

guide=$1
shift

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Plain text, one line per paragraph, as wide as it takes.
render() {
  LC_ALL=C.UTF-8 groff -k -man -Tutf8 -rLL=1000n -P-cbou "$1" 2>/dev/null
}

# The lines of SECTION in the rendered TEXT, up to the next section.
section_of() {
  awk -v want="$1" '$0 == want { on = 1; next } /^[A-Z]/ { on = 0 } on' <<<"$2"
}

# Each page's exit codes, in the order EXIT STATUS lists them.
declare -A exit_codes=(
  [zlm-read.1]="0 1 2 3 4"
  [zlm-meter-sim.1]="0 1 2"
  [zlm-reader.1]="0 1"
)

mapfile -t headings < <(sed -n 's/^## //p' "$guide")
((${#headings[@]} > 1)) || fail "$guide: too few sections to check"

for page in "$@"; do
  name=$(basename "$page")
  [[ -s "$page" ]] || { fail "$name: not built"; continue; }
  warnings=$(LC_ALL=C.UTF-8 groff -k -man -Tutf8 -ww -z "$page" 2>&1)
  [[ -z "$warnings" ]] || fail "$name: groff warns: $warnings"

  text=$(render "$page")

  codes=$(section_of "EXIT STATUS" "$text" | awk '/^       [0-9]+ / { printf "%s%s", sep, $1; sep = " " }')
  [[ "$codes" == "${exit_codes[$name]-}" ]] ||
    fail "$name: EXIT STATUS lists \"$codes\", not \"${exit_codes[$name]-}\""
  ! grep -qi "exit codes:" <<<"$text" || fail "$name: the exit codes are listed outside EXIT STATUS"

  ports=$(section_of "SERIAL PORTS" "$text")
  [[ -n "$ports" ]] || { fail "$name: no section SERIAL PORTS"; continue; }
  for heading in "${headings[@]}"; do
    grep -qxF "   $heading" <<<"$ports" && found=yes || found=no
    [[ "$heading" == *Windows* ]] && want=no || want=yes
    [[ "$found" == "$want" ]] || fail "$name: subsection \"$heading\" shown: $found"
  done
  for leftover in '](' '.md#' '```' '**' '|---'; do
    ! grep -qF -- "$leftover" <<<"$ports" || fail "$name: SERIAL PORTS shows \"$leftover\""
  done
done

((failures == 0)) && echo "$# pages checked"
exit $((failures > 0))
