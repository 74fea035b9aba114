#!/usr/bin/env bash
# Checks that a built TesZEPDIO.sys is a kernel driver image as it ships:
# PE32+, native subsystem, imports from the kernel and the HAL only, no
# exports, no C++ runtime inside; INIT discardable; the message table of its
# event log entries; and what every shipped image must be
# (check-shipped-image.sh): stripped, W^X, 4 KiB sections, NX, dynamic base,
# x64 unwind data, a valid PE checksum, its version resource, and its PDB
# with the entry point DriverEntry and the dispatch routines.
# Prints the image's sizes.
set -euo pipefail
image=${1:?usage: check-driver-image.sh TesZEPDIO.sys}
here=$(dirname "$0")
objdump=x86_64-w64-mingw32-objdump
headers=$($objdump -p "$image")
facts=$(python3 "$here/pe_image.py" show "$image")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
fact() { awk -v key="$1" -v name="${2:-}" '$1 == key && (name == "" || $2 == name)' <<<"$facts"; }

grep -qE '^Magic[[:space:]]+020b' <<<"$headers" || fail "not a PE32+ image"
grep -qE '^Subsystem[[:space:]]+00000001' <<<"$headers" || fail "subsystem is not native"

dlls=$(awk '/DLL Name:/ {print $3}' <<<"$headers")
for dll in $dlls; do
  case "${dll,,}" in
    ntoskrnl.exe|hal.dll) ;;
    *) fail "imports from $dll" ;;
  esac
done
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" | grep -cE '^[[:space:]]+\[ *[0-9]+\]' || true)
(( exports == 0 )) || fail "the image exports $exports symbols"
# Everything linked in has a public symbol in the PDB.
read -r _ _ _ pdb <<<"$(fact codeview)" || true
publics=$(llvm-pdbutil dump -publics "$(dirname "$image")/${pdb:-none}" 2>/dev/null) || fail "no PDB to read"
if grep -qE '`(__cxa_|__gxx_personality|_Unwind_|_ZSt|_ZNSt|__gcc_personality)' <<<"$publics"; then
  fail "C++ runtime code in the image"
fi
# The event log's messages: each the driver writes (messages.h, made with the
# image from messages.mc) is in its message table, and none asks for more
# than the seven insertion strings the driver gives every entry (%2 to %8).
codes=$(sed -nE 's/^#define DIO_LOG_[A-Z_]+ \(NTSTATUS\) 0x([0-9a-fA-F]+).*/\1/p' \
  "$(dirname "$image")/messages/messages.h" 2>/dev/null | tr '[:lower:]' '[:upper:]')
table=$(python3 "$here/pe_image.py" messages "$image" 2>&1) || fail "$table"
[[ -n "$codes" ]] || fail "no DIO_LOG_ messages in messages/messages.h beside the image"
for code in $codes; do
  text=$(awk -v id="0x$code" '$1 == "message" && $2 == id {sub(/^message [^ ]+ /, ""); print}' <<<"$table")
  [[ -n "$text" ]] || fail "message 0x$code is not in the image's message table"
  grep -qE '%(9|[1-9][0-9])' <<<"$text" && fail "message 0x$code asks for an insertion string past %8"
done
# INIT is freed once DriverEntry has run.
grep -qE '^section INIT .*discardable' <<<"$facts" || fail "no discardable INIT section"

shipped=$("$here/check-shipped-image.sh" "$image" --entry DriverEntry DriverEntry AddDevice DriverUnload \
  DispatchPnp DispatchPower DispatchCreate DispatchClose DispatchCleanup DispatchDeviceControl \
  DispatchShutdown DispatchSystemControl InterruptService InterruptDpc) || fail "$shipped"

if ((failures)); then exit 1; fi
read -r _ file_bytes image_bytes <<<"$(fact size)"
echo "driver image OK: $image (PE32+, native, entry DriverEntry, imports: $(tr '\n' ' ' <<<"$dlls"))"
echo "  $file_bytes bytes on disk, $image_bytes in memory, INIT discardable, $(wc -w <<<"$codes") event log messages"
echo "$shipped"
