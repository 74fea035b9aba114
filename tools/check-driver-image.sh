#!/usr/bin/env bash
# Checks that a built TesZEPDIO.sys is a kernel driver image: PE32+, native
# subsystem, entry point DriverEntry, imports from the kernel and the HAL
# only, and no C++ runtime inside.
set -euo pipefail
image=${1:?usage: check-driver-image.sh TesZEPDIO.sys}
objdump=x86_64-w64-mingw32-objdump
nm=x86_64-w64-mingw32-nm
headers=$($objdump -p "$image")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

grep -qE '^Magic[[:space:]]+020b' <<<"$headers" || fail "not a PE32+ image"
grep -qE '^Subsystem[[:space:]]+00000001' <<<"$headers" || fail "subsystem is not native"

base=$(awk '/^ImageBase/ {print $2}' <<<"$headers")
entry=$(awk '/^AddressOfEntryPoint/ {print $2}' <<<"$headers")
driver_entry=$($nm "$image" | awk '$3 == "DriverEntry" {print $1}')
[[ -n "$driver_entry" ]] || fail "no DriverEntry symbol"
if [[ -n "$driver_entry" ]] && (( 16#$base + 16#$entry != 16#$driver_entry )); then
  fail "entry point is not DriverEntry"
fi

dlls=$(awk '/DLL Name:/ {print $3}' <<<"$headers")
for dll in $dlls; do
  case "${dll,,}" in
    ntoskrnl.exe|hal.dll) ;;
    *) fail "imports from $dll" ;;
  esac
done

if $nm "$image" | grep -qE '__cxa_|__gxx_personality|_Unwind_|_ZSt|_ZNSt|__gcc_personality'; then
  fail "C++ runtime code in the image"
fi
exports=$($objdump -p "$image" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -cE '^[[:space:]]+\[ *[0-9]+\]' || true)
(( exports == 0 )) || fail "the image exports $exports symbols"

if ((failures)); then exit 1; fi
echo "driver image OK: $image (PE32+, native, entry DriverEntry, imports: $(tr '\n' ' ' <<<"$dlls"))"
