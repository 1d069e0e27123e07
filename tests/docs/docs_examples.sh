#!/usr/bin/env bash
# Runs the shell examples of the guides against the meter simulator and
# compares what they print with what the guides show.
#
# An example is a fenced block opened by "```console example": each line
# starting with "$ " is a command, run by bash with zlm-read and
# zlm-meter-sim on PATH; the lines up to the next command are what it prints
# (stdout and stderr together). Times (2026-12-08T05:57:10.533+00:00) and
# line-protocol timestamps (19 digits at the end of a line) are compared as
# placeholders, blanks at line ends are ignored.
#
# The simulator serves meters 1 and 3 with fixed readings on COM2 of a
# scratch port directory, the one the examples are written for; no other
# port is opened.
#
# Usage: docs_examples.sh BIN_DIRS WORK_DIR FILE.md...
#   BIN_DIRS: the folders of zlm-read and zlm-meter-sim, joined by ":"
set -uo pipefail

bin_dirs=$1
work=$2
shift 2

rm -rf "$work"
mkdir -p "$work/config"
export XDG_CONFIG_HOME="$work/config"
# Absolute, since the examples run in the scratch directory.
IFS=: read -ra dirs <<<"$bin_dirs"
for dir in "${dirs[@]}"; do PATH="$(realpath "$dir"):$PATH"; done
export PATH
unset ZLM_TRACE

sim_pid=
stop_simulator() {
  if [[ -n "$sim_pid" ]]; then
    kill -TERM "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
  fi
}
trap stop_simulator EXIT

# The simulator's first line on stdout says it is serving.
mkfifo "$work/first"
zlm-meter-sim --com 2 --address 1 --address 3 --fixed --log "$work/traffic.log" \
  >"$work/first" 2>"$work/sim.err" &
sim_pid=$!
if ! read -r com _ <"$work/first" || [[ "$com" != COM2 ]]; then
  echo "docs_examples: the simulator did not start: $(cat "$work/sim.err")" >&2
  exit 1
fi

normalise() {
  sed -E -e 's/[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:.]+[+-][0-9]{2}:[0-9]{2}/TIME/g' \
         -e 's/ [0-9]{19}$/ TIMESTAMP/' \
         -e 's/[[:space:]]+$//'
}

failures=0
examples=0
check() {  # file, line of the command, command, expected output
  local file=$1 line=$2 command=$3 expected=$4
  examples=$((examples + 1))
  local actual
  actual=$(cd "$work" && bash -c "$command" 2>&1)
  if [[ "$(normalise <<<"$actual")" != "$(normalise <<<"$expected")" ]]; then
    failures=$((failures + 1))
    echo "FAIL $file:$line: \$ $command"
    diff <(normalise <<<"$expected") <(normalise <<<"$actual") | sed 's/^/    /'
  fi
}

for file in "$@"; do
  in_block=0
  command=
  expected=
  line_no=0
  command_line=0
  while IFS= read -r text || [[ -n "$text" ]]; do
    line_no=$((line_no + 1))
    if ((!in_block)); then
      [[ "$text" == '```console example' ]] && in_block=1
      continue
    fi
    if [[ "$text" == '```' || "$text" == '$ '* ]]; then
      if [[ -n "$command" ]]; then
        check "$file" "$command_line" "$command" "$expected"
      fi
      command=
      expected=
      if [[ "$text" == '```' ]]; then
        in_block=0
      else
        command=${text#\$ }
        command_line=$line_no
      fi
      continue
    fi
    expected+="${expected:+$'\n'}$text"
  done <"$file"
done

echo "docs_examples: $examples examples, $failures differ"
((examples > 0 && failures == 0))
