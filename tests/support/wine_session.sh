#!/usr/bin/env bash
# The Wine prefix and its one server for a run of the Windows tests.
#   wine_session.sh start WINE_RUN PREFIX LOG FONT KEEPER [virtual-desktop|x-windows]
#     Makes the prefix when it is not made yet, then starts the one server
#     of the run: persistent, with its input and output on LOG, so no
#     tested program starts a server (whose notes and dumps would land in
#     that program's output). Checks the prefix after it is made and again
#     after a Wine start. Windows open on Wine's virtual desktop, where Wine
#     itself decides activation and keyboard focus (without a window manager
#     on the display, focus would follow the X server's whims); x-windows
#     gives each its own X window instead, for pictures of single windows.
#     KEEPER (desktop_keeper.exe) holds the desktop open until the stop.
#   wine_session.sh stop WINE_RUN PREFIX LOG
#     Ends the server and every Wine process of the prefix.
#   wine_session.sh check DOSDEVICES
#     Fails, naming them, when links in DOSDEVICES reach a host serial line.
set -uo pipefail

# Links to the serial lines of the machine, one "name -> target" a line.
host_serial_links() {
  local link target
  for link in "$1"/*; do
    [[ -L $link ]] || continue
    target=$(readlink "$link")
    case $target in
    /dev/ttyS[0-9]* | /dev/ttyUSB[0-9]* | /dev/ttyACM[0-9]* | /dev/serial/*)
      echo "${link##*/} -> $target"
      ;;
    esac
  done
}

check() {
  local found
  found=$(host_serial_links "$1")
  if [[ -n $found ]]; then
    echo "links to host serial lines in $1:" >&2
    echo "$found" >&2
    return 1
  fi
}

# The server's output goes to the log; its exit status tells whether it
# started (2: one is already running for the prefix).
start_server() {
  "$wine_run" wineserver -p </dev/null >>"$log" 2>&1
}

stop_server() {
  "$wine_run" wineserver -k </dev/null >>"$log" 2>&1
  "$wine_run" wineserver -w </dev/null >>"$log" 2>&1
  return 0
}

start() {
  local font=$1 ready=$prefix/zlm-prefix-ready
  mkdir -p "$(dirname "$log")"
  # One log a run: the server writes a dump of its objects each time it is
  # ended, tens of megabytes over a few runs.
  echo "== $(date -u +%FT%TZ) start" >"$log"
  # A server left by an interrupted run knows another display: end it.
  stop_server
  if [[ ! -f $ready ]]; then
    rm -rf "$prefix"
    mkdir -p "$prefix"
    start_server || { echo "wineserver did not start (log: $log)" >&2; return 1; }
    "$wine_run" wineboot --init >>"$log" 2>&1 || { echo "wineboot failed (log: $log)" >&2; return 1; }
    check "$prefix/dosdevices" || return 1
    # The dialogs ask for "MS Sans Serif" 8, a bitmap font that Wine looks
    # for in the prefix's Fonts folder and, not finding it there, replaces
    # with a wider outline font: labels wrap and readings are cut. The
    # prefix gets Wine's metric-compatible copy of its Cyrillic set, as a
    # Russian system has it.
    cp "$font" "$prefix/drive_c/windows/Fonts/" || return 1
    "$wine_run" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts' \
      /v "MS Sans Serif" /d "$(basename "$font")" /f >>"$log" 2>&1 || return 1
    "$wine_run" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f \
      >>"$log" 2>&1 || return 1
    stop_server
    # Written last, so a half-made prefix is made again.
    touch "$ready"
  fi
  start_server || { echo "wineserver did not start (log: $log)" >&2; return 1; }
  # The desktop is chosen when the first window opens: the server starts
  # anew after the choice, with no window open yet.
  if [[ $desktop == virtual-desktop ]]; then
    "$wine_run" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >>"$log" 2>&1
  else
    "$wine_run" reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >>"$log" 2>&1
  fi
  stop_server
  start_server || { echo "wineserver did not start (log: $log)" >&2; return 1; }
  # A Wine start: the device manager runs again and makes its links anew.
  "$wine_run" cmd /c exit >>"$log" 2>&1 || { echo "cmd /c exit failed (log: $log)" >&2; return 1; }
  check "$prefix/dosdevices" || return 1
  # The desktop, held open by the keeper until the server ends.
  local kept
  kept=$(realpath -m "$prefix")/desktop-kept
  rm -f "$kept"
  "$wine_run" "$keeper" "Z:${kept//\//\\}" </dev/null >>"$log" 2>&1 &
  local keeper_pid=$!
  for _ in $(seq 600); do
    [[ -f $kept ]] && break
    kill -0 "$keeper_pid" 2>/dev/null || { echo "desktop_keeper ended (log: $log)" >&2; return 1; }
    sleep 0.1
  done
  [[ -f $kept ]] || { echo "desktop_keeper did not start within 60 s (log: $log)" >&2; return 1; }
  echo "prefix $prefix ready, its server running (log: $log)"
}

case ${1-} in
start)
  [[ $# == 6 || $# == 7 ]] || {
    echo "usage: $0 start WINE_RUN PREFIX LOG FONT KEEPER [virtual-desktop|x-windows]" >&2
    exit 2
  }
  wine_run=$2 prefix=$3 log=$4 keeper=$6 desktop=${7-virtual-desktop}
  [[ $desktop == virtual-desktop || $desktop == x-windows ]] || {
    echo "$0: unknown desktop '$desktop'" >&2
    exit 2
  }
  start "$5"
  ;;
stop)
  [[ $# == 4 ]] || { echo "usage: $0 stop WINE_RUN PREFIX LOG" >&2; exit 2; }
  wine_run=$2 prefix=$3 log=$4
  echo "== $(date -u +%FT%TZ) stop" >>"$log"
  stop_server
  ;;
check)
  [[ $# == 2 ]] || { echo "usage: $0 check DOSDEVICES" >&2; exit 2; }
  check "$2"
  ;;
*)
  echo "usage: $0 start|stop|check ..." >&2
  exit 2
  ;;
esac
