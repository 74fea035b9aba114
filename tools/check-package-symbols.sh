#!/usr/bin/env bash
# Checks the symbols that go out with the driver packages (tools/package.sh):
# each attestation CAB holds the PDB of the driver beside it and of the
# applet beside its MSI, and TesZEPDIO-symbols.zip those and dioctl's; each
# PDB is the one its image names, by the GUID and age of the image's CodeView
# record: the driver as signed in each package and as submitted in each CAB,
# the applet inside the MSI, dioctl.exe as built.
#   check-package-symbols.sh build/package build/windows-driver/tool/dioctl.exe
set -euo pipefail
here=$(dirname "$0")
out=${1:?usage: check-package-symbols.sh PACKAGE_OUTPUT DIOCTL}
tool=${2:?usage: check-package-symbols.sh PACKAGE_OUTPUT DIOCTL}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

pdb_id() { llvm-pdbutil dump -summary "$1" 2>/dev/null | awk '$1 == "GUID:" {g = $2} $1 == "Age:" {a = $2} END {print g, a}'; }
matches() {  # matches IMAGE PDB WHERE
  read -r _ guid age pdb_name <<<"$(python3 "$here/pe_image.py" show "$1" | grep '^codeview ')" || true
  if [[ ! -f "$2" ]]; then
    fail "$3: no $(basename "$2")"
  elif [[ "$(basename "$2")" != "${pdb_name:-none}" || "$(pdb_id "$2")" != "${guid:-none} ${age:-none}" ]]; then
    fail "$3: $(basename "$2") ($(pdb_id "$2")) is not the PDB $(basename "$1") names (${pdb_name:-none} ${guid:-} ${age:-})"
  fi
}
applet_in() {  # the applet inside an MSI, extracted into the folder given
  msiextract -C "$2" "$1" >/dev/null && find "$2" -name TesZEPDIOConfig.cpl | head -n 1
}

mkdir -p "$work/zip"
python3 -m zipfile -e "$out/TesZEPDIO-symbols.zip" "$work/zip"
cabs=0
for cab in "$out"/*-attestation.cab; do
  [[ -f "$cab" ]] || continue
  cabs=$((cabs + 1))
  package=$(basename "$cab" -attestation.cab)
  dir=$work/$package
  mkdir -p "$dir/cab" "$dir/msi"
  gcab -x -C "$dir/cab" "$cab" >/dev/null
  matches "$dir/cab/$package/TesZEPDIO.sys" "$dir/cab/$package/TesZEPDIO.pdb" "$(basename "$cab")"
  matches "$out/$package/TesZEPDIO.sys" "$dir/cab/$package/TesZEPDIO.pdb" "$(basename "$cab"), for the package's driver"
  matches "$out/$package/TesZEPDIO.sys" "$work/zip/TesZEPDIO.pdb" "the symbols archive, for $package's driver"
  applet=$(applet_in "$dir/cab/TesZEPDIOApplet/TesZEPDIOConfig.msi" "$dir/msi")
  matches "${applet:-none}" "$dir/cab/TesZEPDIOApplet/TesZEPDIOConfig.pdb" "$(basename "$cab"), for the MSI's applet"
done
((cabs > 0)) || fail "no attestation CAB in $out"
mkdir -p "$work/msi"
applet=$(applet_in "$out/TesZEPDIOApplet/TesZEPDIOConfig.msi" "$work/msi")
matches "${applet:-none}" "$work/zip/TesZEPDIOConfig.pdb" "the symbols archive, for the MSI's applet"
matches "$tool" "$work/zip/dioctl.pdb" "the symbols archive, for dioctl.exe"

if ((failures)); then exit 1; fi
echo "package symbols OK: TesZEPDIO-symbols.zip ($(ls "$work/zip" | tr '\n' ' ' | sed 's/ $//')) and the PDBs of" \
     "$cabs attestation CABs match the packaged driver, the MSI's applet and dioctl"
