#!/usr/bin/env bash
# Checks what every image we ship must be, whatever its kind: stripped (no
# symbols, no debug sections), no section both writable and executable,
# sections aligned to 4 KiB pages, NX compatible and relocatable at a random
# base (on a 64-bit image also with high-entropy addresses), x64 unwind data
# for every function of a 64-bit image, a valid PE checksum; its version
# resource (check-version.sh); and its PDB, which Windows' debuggers match to
# it, naming the routines given (check-symbols.sh). Prints one line.
#   check-shipped-image.sh IMAGE [--entry ROUTINE] ROUTINE...
set -euo pipefail
here=$(dirname "$0")
image=${1:?usage: check-shipped-image.sh IMAGE [--entry ROUTINE] ROUTINE...}
shift
name=$(basename "$image")
facts=$(python3 "$here/pe_image.py" show "$image")
failures=0
fail() { echo "FAIL: $name: $*"; failures=$((failures + 1)); }
fact() { awk -v key="$1" '$1 == key' <<<"$facts"; }

[[ "$(fact symbols)" == "symbols 0" ]] || fail "not stripped: $(fact symbols)"
! grep -q '^section \.debug' <<<"$facts" || fail "debug sections left in the image"
wx=$(awk '$1 == "section" && $NF ~ /execute/ && $NF ~ /write/ {print $2}' <<<"$facts" | tr '\n' ' ')
[[ -z "$wx" ]] || fail "sections both writable and executable: $wx"
read -r _ flags alignment <<<"$(fact characteristics)"
[[ "$alignment" == 0x1000 ]] || fail "sections aligned to $alignment, not 4 KiB"
(( flags & 0x0100 )) || fail "not NX compatible"
(( flags & 0x0040 )) || fail "no dynamic base (ASLR)"
read -r _ functions unwind <<<"$(fact unwind)" || true
if [[ -n "${functions:-}" ]]; then
  (( flags & 0x0020 )) || fail "no high-entropy addresses"
  [[ "$unwind" == ok ]] || fail "x64 unwind data: $unwind"
fi
read -r _ stored computed <<<"$(fact checksum)"
[[ "$stored" == "$computed" ]] || fail "PE checksum $stored, the file's is $computed"
version=$("$here/check-version.sh" "$image" 2>&1) || fail "version resource: ${version//$'\n'/ }"
symbols=$("$here/check-symbols.sh" "$image" "$@" 2>&1) || fail "symbols: ${symbols//$'\n'/ }"

if ((failures)); then exit 1; fi
echo "  shipped as it should be: stripped, W^X, 4 KiB sections, NX, dynamic base${functions:+, unwind data for $functions functions}, checksum;" \
     "version $(head -n 1 "$here/../VERSION"); ${symbols#symbols OK: }"
