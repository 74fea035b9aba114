#!/usr/bin/env bash
# Checks that a built TesZEPDIO.sys is a kernel driver image as it ships:
# PE32+, native subsystem, entry point DriverEntry, imports from the kernel
# and the HAL only, no C++ runtime inside; x64 unwind data (.pdata, .xdata)
# kept for stack walks; stripped, with its debug information in the file its
# .gnu_debuglink section names; INIT discardable; a valid PE checksum.
# Prints the image's sizes.
set -euo pipefail
image=${1:?usage: check-driver-image.sh TesZEPDIO.sys}
objdump=x86_64-w64-mingw32-objdump
nm=x86_64-w64-mingw32-nm
headers=$($objdump -p "$image")
facts=$(python3 "$(dirname "$0")/pe_image.py" show "$image")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
fact() { awk -v key="$1" -v name="${2:-}" '$1 == key && (name == "" || $2 == name)' <<<"$facts"; }

grep -qE '^Magic[[:space:]]+020b' <<<"$headers" || fail "not a PE32+ image"
grep -qE '^Subsystem[[:space:]]+00000001' <<<"$headers" || fail "subsystem is not native"

# The symbols live in the debug file now.
read -r _ debug_name debug_state <<<"$(fact debuglink)" || true
debug_file=$(dirname "$image")/${debug_name:-none}
[[ "${debug_state:-}" == ok ]] || fail "no .gnu_debuglink to a debug file of this image (${debug_state:-none})"
[[ -f "$debug_file" ]] || debug_file=/dev/null
base=$(awk '/^ImageBase/ {print $2}' <<<"$headers")
entry=$(awk '/^AddressOfEntryPoint/ {print $2}' <<<"$headers")
driver_entry=$($nm "$debug_file" 2>/dev/null | awk '$3 == "DriverEntry" {print $1}' || true)
[[ -n "$driver_entry" ]] || fail "no DriverEntry symbol in the debug file"
if [[ -n "$driver_entry" ]] && (( 16#$base + 16#$entry != 16#$driver_entry )); then
  fail "entry point is not DriverEntry"
fi
if ! $objdump -h "$debug_file" 2>/dev/null | grep -q '\.debug_info'; then
  fail "the debug file holds no debug information"
fi

dlls=$(awk '/DLL Name:/ {print $3}' <<<"$headers")
for dll in $dlls; do
  case "${dll,,}" in
    ntoskrnl.exe|hal.dll) ;;
    *) fail "imports from $dll" ;;
  esac
done

if $nm "$debug_file" 2>/dev/null | grep -qE '__cxa_|__gxx_personality|_Unwind_|_ZSt|_ZNSt|__gcc_personality'; then
  fail "C++ runtime code in the image"
fi
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" | grep -cE '^[[:space:]]+\[ *[0-9]+\]' || true)
(( exports == 0 )) || fail "the image exports $exports symbols"

# Unwind data: the exception directory over .pdata, with .xdata beside it.
[[ -n "$(fact section .pdata)" && -n "$(fact section .xdata)" ]] || fail "no x64 unwind data (.pdata, .xdata)"
[[ -n "$(fact directory exception)" ]] || fail "no exception directory"
# Stripped: no symbols, no debug sections.
[[ "$(fact symbols)" == "symbols 0" ]] || fail "not stripped: $(fact symbols)"
! grep -q '^section \.debug' <<<"$facts" || fail "debug sections left in the image"
# INIT is freed once DriverEntry has run.
grep -qE '^section INIT .*discardable' <<<"$facts" || fail "no discardable INIT section"
# The version resource: company, description, name, and the version of VERSION.
version_check=$("$(dirname "$0")/check-version.sh" "$image" 2>&1) || fail "version resource: ${version_check//$'\n'/ }"
read -r _ stored computed <<<"$(fact checksum)"
[[ "$stored" == "$computed" ]] || fail "PE checksum $stored, the file's is $computed"

if ((failures)); then exit 1; fi
read -r _ file_bytes image_bytes <<<"$(fact size)"
echo "driver image OK: $image (PE32+, native, entry DriverEntry, imports: $(tr '\n' ' ' <<<"$dlls"))"
echo "  stripped $file_bytes bytes on disk, $image_bytes in memory; debug information in" \
     "$(basename "$debug_file") ($(stat -c %s "$debug_file") bytes); unwind data, INIT discardable"
