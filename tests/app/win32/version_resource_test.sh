#!/usr/bin/env bash
# The version resource of zlm-reader.exe as a Windows shell reads it: the
# fixed part's numbers and flags, and every string of the English block.
# Usage: version_resource_test.sh zlm-reader.exe
set -euo pipefail
exe=$1
res=$(mktemp)
trap 'rm -f "$res"' EXIT
wrestool -x --type=16 --raw "$exe" >"$res"
[[ -s $res ]] || { echo "FAILED: no version resource in $exe" >&2; exit 1; }

# VS_FIXEDFILEINFO: the signature 0xFEEF04BD, then twelve little-endian DWORDs.
mapfile -t words < <(od -An -v -tx4 -w4 "$res" | tr -d ' ')
fixed=-1
for i in "${!words[@]}"; do
  if [[ ${words[$i]} == feef04bd ]]; then fixed=$i; break; fi
done
((fixed >= 0)) || { echo "FAILED: no fixed part (signature 0xFEEF04BD)" >&2; exit 1; }
failed=0
expect() {  # name, offset in DWORDs after the signature, value
  local got=${words[$((fixed + $2))]}
  if [[ $((16#$got)) -ne $(($3)) ]]; then
    echo "FAILED: $1 is 0x$got, not $3" >&2
    failed=1
  fi
}
expect FileVersionMS 2 0x00010000
expect FileVersionLS 3 0x00000001
expect ProductVersionMS 4 0x00010000
expect ProductVersionLS 5 0x00000001
expect FileFlagsMask 6 0x3F
expect FileFlags 7 0x0
expect FileOS 8 0x4
expect FileType 9 0x1
expect FileSubtype 10 0x0

# The strings are UTF-16 key and value, each ending in NUL, padded with NULs.
text=$(iconv -c -f UTF-16LE -t UTF-8 "$res" | tr -s '\0' '|')
for pair in \
  "CompanyName|" "FileDescription|Tellap1 MFC Application|" "FileVersion|1, 0, 0, 1|" \
  "InternalName|Tellap1|" "LegalTrademarks|" "OriginalFilename|Tellap1.EXE|" \
  "ProductName|Tellap1 Application|" "ProductVersion|1, 0, 0, 1|" "040904B0|" "Translation|"; do
  if [[ $text != *"$pair"* ]]; then
    echo "FAILED: no string ${pair%%|*} (looked for '$pair')" >&2
    failed=1
  fi
done
exit "$failed"
