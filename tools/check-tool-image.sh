#!/usr/bin/env bash
# Checks that a built dioctl.exe is what a technician can copy to any 64-bit
# Windows: a PE32+ x86-64 console program that imports system DLLs only (the
# C and C++ runtimes are linked in; msvcrt.dll is the system's own C library),
# and what every shipped image must be (check-shipped-image.sh), its PDB
# naming main.
set -euo pipefail
image=${1:?usage: check-tool-image.sh dioctl.exe}
objdump=x86_64-w64-mingw32-objdump
headers=$($objdump -p "$image")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

grep -q 'file format pei-x86-64' <<<"$($objdump -f "$image")" || fail "not an x86-64 image"
grep -qE '^Magic[[:space:]]+020b' <<<"$headers" || fail "not a PE32+ image"
grep -qE '^Subsystem[[:space:]]+00000003' <<<"$headers" || fail "subsystem is not the console"

dlls=$(awk '/DLL Name:/ {print $3}' <<<"$headers")
for dll in $dlls; do
  case "${dll,,}" in
    kernel32.dll|advapi32.dll|setupapi.dll|msvcrt.dll) ;;
    *) fail "imports from $dll, which Windows does not ship" ;;
  esac
done
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" | grep -cE '^[[:space:]]+\[ *[0-9]+\]' || true)
(( exports == 0 )) || fail "the program exports $exports symbols"
shipped=$("$(dirname "$0")/check-shipped-image.sh" "$image" main) || fail "$shipped"

if ((failures)); then exit 1; fi
echo "tool image OK: $image (PE32+ x86-64 console, $(stat -c %s "$image") bytes, imports: $(tr '\n' ' ' <<<"$dlls"))"
echo "$shipped"
