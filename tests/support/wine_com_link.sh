# Sourced by the Windows end-to-end tests: the Linux zlm-meter-sim reached
# from Wine as COMn through a link in the prefix's dosdevices.
# Expects: wine_run, prefix (the Wine prefix), sim (the simulator), work (an
# empty directory, XDG_CONFIG_HOME below it).
# Gives: com (the COM number), start_simulator ARGS..., stop_simulator.

if [[ ! -x $sim ]]; then
  echo "The Linux simulator is not built: '$sim' (scripts/test windows builds it)" >&2
  exit 1
fi
# The prefix, with its dosdevices, is made before the first test
# (wine_session.sh).
[[ -d $prefix/dosdevices ]] || { echo "no Wine prefix at $prefix" >&2; exit 1; }

# A COM number that is free in the prefix.
com=0
for n in $(seq 200 254); do
  if [[ ! -e $prefix/dosdevices/com$n && ! -L $prefix/dosdevices/com$n ]]; then
    com=$n
    break
  fi
done
((com != 0)) || { echo "no free COM number in $prefix/dosdevices" >&2; exit 1; }
link=$prefix/dosdevices/com$com

sim_pid=
stop_simulator() {
  if [[ -n $sim_pid ]]; then
    kill -INT "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=
  fi
  rm -f "$link"
}
trap stop_simulator EXIT

# Starts the simulator with fixed readings and links COM$com to its pty.
start_simulator() {
  : >"$work/sim.out"
  "$sim" --log "$work/traffic.log" --fixed --volume-m3 1234.5678 --volume-l 98765432 \
    --hours 8760.25 --flow-m3h 12.5 --flow-lmin 208.33333 --flow-percent 17.68 \
    --nominal-diameter 50 "$@" >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  for _ in $(seq 100); do
    [[ -s $work/sim.out ]] && break
    sleep 0.05
  done
  local pty
  read -r _ pty _ <"$work/sim.out"
  [[ -c $pty ]] || { echo "simulator did not start: $(cat "$work/sim.err")" >&2; exit 1; }
  ln -sfn "$pty" "$link"
}

