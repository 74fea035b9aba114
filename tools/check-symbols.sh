#!/usr/bin/env bash
# Checks that Windows' debuggers find the symbols of a shipped image in the
# PDB beside it, as WinDbg matches them: the image's CodeView (RSDS) record
# names the PDB by its file name alone, and the PDB carries the record's GUID
# and age. With llvm-pdbutil: the PDB holds debug information (line
# numbers), and each routine named has a public symbol and a procedure
# record, both at the address the linker's map (<image base name>.map, beside
# the image) gives for it; the routine at the image's entry point and each
# export are public symbols at the image's own addresses for them.
#   check-symbols.sh IMAGE [--entry ROUTINE] ROUTINE...
set -euo pipefail
here=$(dirname "$0")
image=${1:?usage: check-symbols.sh IMAGE [--entry ROUTINE] ROUTINE...}
shift
entry_routine=''
if [[ "${1:-}" == --entry ]]; then entry_routine=${2:?--entry needs a routine}; shift 2; fi
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
name=$(basename "$image")
dir=$(dirname "$image")

read -r _ guid age pdb_name <<<"$(python3 "$here/pe_image.py" show "$image" | grep '^codeview ')" || true
if [[ -z "${guid:-}" ]]; then
  echo "FAIL: $name has no CodeView (RSDS) record"
  exit 1
fi
[[ "$pdb_name" == "$(basename "$pdb_name")" ]] || fail "$name: its CodeView record names the PDB by a path: $pdb_name"
pdb=$dir/$(basename "$pdb_name")
map=$dir/${name%.*}.map
[[ -f "$pdb" ]] || { echo "FAIL: $name: no $(basename "$pdb") beside it"; exit 1; }
[[ -f "$map" ]] || { echo "FAIL: $name: no linker map $(basename "$map") beside it"; exit 1; }

summary=$(llvm-pdbutil dump -summary "$pdb")
pdb_guid=$(awk '$1 == "GUID:" {print $2}' <<<"$summary")
pdb_age=$(awk '$1 == "Age:" {print $2}' <<<"$summary")
[[ "$pdb_guid" == "$guid" && "$pdb_age" == "$age" ]] ||
  fail "$(basename "$pdb"): GUID $pdb_guid age $pdb_age; $name's record wants $guid age $age"
grep -q 'Has Debug Info: true' <<<"$summary" || fail "$(basename "$pdb") holds no debug information"
lines=$(llvm-pdbutil dump -l "$pdb" | grep -c 'line/addr entries' || true)
((lines > 0)) || fail "$(basename "$pdb") has no line numbers"

layout=$(python3 "$here/pe_image.py" layout "$image")
# "NAME RVA" for each public symbol, and each procedure record: the name as
# the source spells it (decorations and C++ mangling undone, parameters
# dropped), the address made relative from the PDB's section:offset.
relative() {  # reads "NAME SECTION:OFFSET", writes "NAME RVA"
  LAYOUT=$layout python3 -c '
import os, sys
base = {int(f[1]): int(f[3], 16) for f in map(str.split, os.environ["LAYOUT"].splitlines()) if f[0] == "section"}
for line in sys.stdin:
    name, address = line.split()
    section, offset = address.split(":")  # the offset in decimal
    print(name, "0x%X" % (base[int(section)] + int(offset)))'
}
undecorate() {  # i686 names: "_name@N" and "__Z..." carry one more underscore
  sed -E 's/^_([A-Za-z_][A-Za-z0-9_]*)@[0-9]+ /\1 /; s/^__Z/_Z/' | llvm-cxxfilt |
    awk '{name = $1; sub(/\(.*/, "", name); print name, $NF}'
}
publics=$(llvm-pdbutil dump -publics "$pdb" |
  awk '/S_PUB32/ {name = $NF; gsub(/`/, "", name)}
       /flags = function/ {sub(/.*addr = /, ""); print name, $0}' | undecorate | relative)
procedures=$(llvm-pdbutil dump -symbols "$pdb" |
  awk '/S_[GL]PROC32/ {name = $NF; gsub(/`/, "", name)}
       /parent = .* addr = / {sub(/.*addr = /, ""); sub(/,.*/, ""); print name, $0}' | relative)
# The map: "ADDRESS SIZE ALIGN NAME" for symbols (alignment 0), the name
# demangled with its parameters.
mapped=$(awk '$3 == "0" && NF >= 4 {name = $4; sub(/\(.*/, "", name); sub(/^_/, "", name); sub(/@[0-9]+$/, "", name)
              print name, "0x" toupper(substr($1, match($1, /[1-9A-Fa-f]/)))}' "$map" | sort -u)
address_of() { awk -v name="$2" '$1 == name {print $2; exit}' <<<"$1"; }

checked=()
for routine in "$@"; do
  public=$(address_of "$publics" "$routine")
  procedure=$(address_of "$procedures" "$routine")
  linked=$(address_of "$mapped" "$routine")
  if [[ -z "$public" ]]; then
    fail "$(basename "$pdb"): no public symbol $routine"
  elif [[ "$public" != "${linked:-none}" || "$public" != "${procedure:-none}" ]]; then
    fail "$routine: public symbol at $public, procedure record at ${procedure:-none}, the map's address ${linked:-none}"
  else
    checked+=("$routine")
  fi
done
if [[ -n "$entry_routine" ]]; then
  entry=$(awk '$1 == "entry" {print $2}' <<<"$layout")
  [[ "$(address_of "$publics" "$entry_routine")" == "$entry" ]] ||
    fail "$name: the entry point $entry is not $entry_routine's public symbol ($(address_of "$publics" "$entry_routine"))"
fi
while read -r _ export rva; do
  [[ "$(address_of "$publics" "$export")" == "$rva" ]] ||
    fail "$name: export $export at $rva, its public symbol at $(address_of "$publics" "$export")"
done < <(grep '^export ' <<<"$layout")

if ((failures)); then exit 1; fi
echo "symbols OK: $(basename "$pdb") ($guid, age $age, $lines line tables) for $name:" \
     "${entry_routine:+entry $entry_routine, }${#checked[@]} routines at the map's addresses"
