#!/usr/bin/env bash
# Checks that a built TesZEPDIOConfig.cpl is what the 32-bit Control Panel
# loads: a PE32 DLL whose only export is CPlApplet (undecorated), importing
# only system libraries and the DIO library, with the C and C++ runtimes
# linked in and the resources inside, among them the manifest (resource 123)
# (naming itself with its own assemblyIdentity, as the schema requires) that
# asks for version 6 of the common controls, whose classes it registers
# itself (InitCommonControlsEx); and what every shipped image must be
# (check-shipped-image.sh), its PDB naming CPlApplet. Prints the image's
# sizes.
set -euo pipefail
image=${1:?usage: check-applet-image.sh TesZEPDIOConfig.cpl}
headers=$(i686-w64-mingw32-objdump -p "$image")
facts=$(python3 "$(dirname "$0")/pe_image.py" show "$image")
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
    kernel32.dll|user32.dll|advapi32.dll|gdi32.dll|comctl32.dll|uxtheme.dll|shell32.dll|msvcrt.dll|teszepdio.dll) ;;
    *) fail "imports from $dll" ;;
  esac
done
grep -qi 'TesZEPDIO.dll' <<<"$dlls" || fail "does not import TesZEPDIO.dll"
grep -q '\.rsrc' <<<"$(i686-w64-mingw32-objdump -h "$image")" || fail "no resources"
sed -n '/DLL Name: COMCTL32/I,/^$/p' <<<"$headers" | grep -qw InitCommonControlsEx ||
  fail "does not import InitCommonControlsEx from comctl32.dll"
# The manifest: well-formed, and a dependency on the common controls 6.0.
if ! manifest=$(python3 "$(dirname "$0")/pe_image.py" resource "$image" 24 123 2>&1); then
  fail "no manifest as resource 123: $manifest"
elif ! problem=$(python3 -c '
import sys, xml.etree.ElementTree as ET
ns = "{urn:schemas-microsoft-com:asm.v1}"
try:
    root = ET.fromstring(sys.stdin.buffer.read())
except ET.ParseError as error:
    sys.exit(f"malformed XML: {error}")
if root.tag != ns + "assembly" or root.get("manifestVersion") != "1.0":
    sys.exit("not an assembly manifest of version 1.0")
# The schema requires the assembly to name itself, first, with a type,
# a name and a four-part version.
own = root.find(ns + "assemblyIdentity")
if own is None or list(root)[0] is not own:
    sys.exit("no assemblyIdentity of its own as the first element")
if own.get("type") != "win32" or not own.get("name") or \
        len((own.get("version") or "").split(".")) != 4 or \
        not all(p.isdigit() for p in own.get("version").split(".")):
    sys.exit("its assemblyIdentity lacks type win32, a name or a version a.b.c.d")
wanted = {"type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
          "publicKeyToken": "6595b64144ccf1df"}
for identity in root.iter(ns + "assemblyIdentity"):
    if all(identity.get(k, "").lower() == v.lower() for k, v in wanted.items()) and \
            identity.get("processorArchitecture") in ("*", "x86", "amd64"):
        sys.exit(0)
sys.exit("no dependency on the common controls 6.0.0.0")' <<<"$manifest" 2>&1); then
  fail "manifest (resource 123): $problem"
fi

shipped=$("$(dirname "$0")/check-shipped-image.sh" "$image" CPlApplet) || fail "$shipped"

if ((failures)); then exit 1; fi
read -r _ file_bytes image_bytes <<<"$(grep '^size' <<<"$facts")"
echo "applet image OK: $image (PE32 DLL, export CPlApplet, manifest for common controls 6.0," \
  "imports: $(tr '\n' ' ' <<<"$dlls"))"
echo "  $file_bytes bytes on disk, $image_bytes in memory"
echo "$shipped"
