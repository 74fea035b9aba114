#!/usr/bin/env bash
# Checks the symbols that go out with the driver package (tools/package.sh):
# the attestation CAB holds the PDBs of the driver and the applet beside
# them, and TesZEPDIO-symbols.zip those and dioctl's; each PDB is the one
# its image names, as signed in the package, as submitted in the CAB, and
# dioctl.exe as built: the GUID and age of the image's CodeView record.
#   check-package-symbols.sh build/package build/windows-driver/tool/dioctl.exe
set -euo pipefail
here=$(dirname "$0")
out=${1:?usage: check-package-symbols.sh PACKAGE_OUTPUT DIOCTL}
tool=${2:?usage: check-package-symbols.sh PACKAGE_OUTPUT DIOCTL}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

mkdir -p "$work/cab" "$work/zip"
gcab -x -C "$work/cab" "$out/TesZEPDIO-attestation.cab" >/dev/null
python3 -m zipfile -e "$out/TesZEPDIO-symbols.zip" "$work/zip"
pdb_id() { llvm-pdbutil dump -summary "$1" 2>/dev/null | awk '$1 == "GUID:" {g = $2} $1 == "Age:" {a = $2} END {print g, a}'; }
matches() {  # matches IMAGE PDB WHERE
  read -r _ guid age pdb_name <<<"$(python3 "$here/pe_image.py" show "$1" | grep '^codeview ')" || true
  if [[ ! -f "$2" ]]; then
    fail "$3: no $(basename "$2")"
  elif [[ "$(basename "$2")" != "${pdb_name:-none}" || "$(pdb_id "$2")" != "${guid:-none} ${age:-none}" ]]; then
    fail "$3: $(basename "$2") ($(pdb_id "$2")) is not the PDB $(basename "$1") names (${pdb_name:-none} ${guid:-} ${age:-})"
  fi
}
for image in TesZEPDIO.sys TesZEPDIOConfig.cpl; do
  pdb=${image%.*}.pdb
  matches "$out/TesZEPDIO/$image" "$work/zip/$pdb" "the symbols archive, for the package's $image"
  matches "$work/cab/TesZEPDIO/$image" "$work/cab/TesZEPDIO/$pdb" "the attestation CAB"
  matches "$out/TesZEPDIO/$image" "$work/cab/TesZEPDIO/$pdb" "the attestation CAB, for the package's $image"
done
matches "$tool" "$work/zip/dioctl.pdb" "the symbols archive, for dioctl.exe"

if ((failures)); then exit 1; fi
echo "package symbols OK: TesZEPDIO-symbols.zip ($(ls "$work/zip" | tr '\n' ' ' | sed 's/ $//')) and the attestation CAB's PDBs match the images"
