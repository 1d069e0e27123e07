#!/usr/bin/env bash
# The installer under Wine: a silent install puts both programs, the
# uninstaller and a Start-menu shortcut to zlm-reader.exe in place and
# registers the uninstaller; a silent uninstall leaves nothing behind. The
# zip holds exactly the two programs.
# Usage: installer_test.sh WINE_RUN WINEPREFIX SETUP_EXE ZIP
set -uo pipefail

wine_run=$1 prefix=$2 setup=$3 zip=$4
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}

dir="$prefix/drive_c/Program Files/ZLM Reader"
shortcut="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/ZLM Reader.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZLM Reader'

"$wine_run" "$setup" /S || fail "silent install: exit $?"
for f in zlm-reader.exe zlm-read.exe uninstall.exe; do
  [[ -f $dir/$f ]] || fail "not installed: $f"
done
[[ -f $shortcut ]] || fail "no Start-menu shortcut"
# The link names its target (and its icon) by the full Windows path.
target='C:\Program Files\ZLM Reader\zlm-reader.exe'
link_text=$(strings -a "$shortcut"; strings -a -el "$shortcut")
grep -qiF "$target" <<<"$link_text" || fail "shortcut target: $(tr '\n' ' ' <<<"$link_text")"
registered=$("$wine_run" reg query "$key" /v UninstallString 2>/dev/null)
grep -qF 'uninstall.exe' <<<"$registered" || fail "uninstaller not registered"

# The uninstaller copies itself away and returns at once: wait for it.
"$wine_run" "$dir/uninstall.exe" /S || fail "silent uninstall: exit $?"
for _ in $(seq 1 100); do
  [[ -e $dir || -e $shortcut ]] || break
  sleep 0.2
done
[[ ! -e $dir ]] || fail "left behind: $(ls -A "$dir")"
[[ ! -e $shortcut ]] || fail "shortcut left behind"
if "$wine_run" reg query "$key" >/dev/null 2>&1; then fail "uninstall key left behind"; fi

listing=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
[[ $listing == "zlm-read.exe zlm-reader.exe " ]] || fail "zip holds: $listing"

if ((failures > 0)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "installer and zip under Wine: all checks passed"
