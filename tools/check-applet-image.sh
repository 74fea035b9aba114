#!/usr/bin/env bash
# Checks that a built TesZEPDIOConfig.cpl is what the 32-bit Control Panel
# loads: a PE32 DLL whose only export is CPlApplet (undecorated), importing
# only system libraries and the DIO library, with the C and C++ runtimes
# linked in and the resources inside.
set -euo pipefail
image=${1:?usage: check-applet-image.sh TesZEPDIOConfig.cpl}
headers=$(i686-w64-mingw32-objdump -p "$image")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

grep -qE '^Magic[[:space:]]+010b' <<<"$headers" || fail "not a PE32 image"
characteristics=$(awk '/^Characteristics/ {print $2; exit}' <<<"$headers")
(( characteristics & 0x2000 )) || fail "not a DLL"
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" | awk '/\[ *[0-9]+\]/ {print $NF}')
[[ "$exports" == "CPlApplet" ]] || fail "exports are: $(tr '\n' ' ' <<<"$exports")"
dlls=$(awk '/DLL Name:/ {print $3}' <<<"$headers")
for dll in $dlls; do
  case "${dll,,}" in
    kernel32.dll|user32.dll|advapi32.dll|gdi32.dll|msvcrt.dll|teszepdio.dll) ;;
    *) fail "imports from $dll" ;;
  esac
done
grep -qi 'TesZEPDIO.dll' <<<"$dlls" || fail "does not import TesZEPDIO.dll"
i686-w64-mingw32-objdump -h "$image" | grep -q '\.rsrc' || fail "no resources"

if ((failures)); then exit 1; fi
echo "applet image OK: $image (PE32 DLL, export CPlApplet, imports: $(tr '\n' ' ' <<<"$dlls"))"
