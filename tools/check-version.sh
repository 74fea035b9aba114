#!/usr/bin/env bash
# Checks the version resource (VS_VERSIONINFO) of each Windows image given,
# as its Properties (Details) and Device Manager's Driver Details show it:
# file and product version, in the fixed part and as text, equal to the
# file VERSION; the company, a description, the image's own file name as
# its original name; the kind of file (driver, DLL, program) its name ends
# in; a translation entry naming the string table. With --inf, the version
# must also equal the INF's DriverVer and the company its provider.
#   check-version.sh [--inf TesZEPDIO.inf] IMAGE...
set -euo pipefail
here=$(dirname "$0")
inf=''
if [[ "${1:-}" == --inf ]]; then inf=${2:?--inf needs the INF}; shift 2; fi
(($#)) || { echo "usage: check-version.sh [--inf INF] IMAGE..." >&2; exit 2; }
version=$(head -n 1 "$here/../VERSION")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if [[ -n "$inf" ]]; then
  # DriverVer = mm/dd/yyyy,w.x.y.z; Provider = %Provider%, a string of [Strings].
  driver_ver=$(awk -F= '{sub(/\r$/, "")} /^[ \t]*DriverVer[ \t]*=/ && v == "" {v = $2; gsub(/[ \t]/, "", v)}
    END {print v}' "$inf")
  provider=$(awk -F= '{sub(/\r$/, "")} /^\[Strings\]/ {s = 1; next} /^\[/ {s = 0}
    s && v == "" && $1 ~ /^[ \t]*Provider[ \t]*$/ {v = $2; sub(/^[ \t]*"/, "", v); sub(/"[ \t]*$/, "", v)}
    END {print v}' "$inf")
  [[ "${driver_ver#*,}" == "$version" ]] ||
    fail "$inf: DriverVer $driver_ver does not carry the version $version of the file VERSION"
fi

for image in "$@"; do
  name=$(basename "$image")
  if ! facts=$(python3 "$here/pe_image.py" version "$image" 2>&1); then
    fail "$name: $facts"
    continue
  fi
  read -r _ file_version product_version _ type subtype <<<"$(grep '^fixed ' <<<"$facts")"
  table=$(awk '$1 == "string" {print $2; exit}' <<<"$facts")
  string() { awk -v key="$1" '$1 == "string" && $3 == key {sub(/^string [^ ]+ [^ ]+ /, ""); print; exit}' <<<"$facts"; }
  [[ "$file_version" == "$version" && "$product_version" == "$version" ]] ||
    fail "$name: file version $file_version, product version $product_version; VERSION holds $version"
  [[ "$(string FileVersion)" == "$version" && "$(string ProductVersion)" == "$version" ]] ||
    fail "$name: the texts say file version \"$(string FileVersion)\", product version \"$(string ProductVersion)\""
  [[ -n "$(string CompanyName)" && -n "$(string FileDescription)" && -n "$(string ProductName)" ]] ||
    fail "$name: company, description or product name missing"
  [[ "${name,,}" == "$(string OriginalFilename | tr '[:upper:]' '[:lower:]')" ]] ||
    fail "$name: original file name \"$(string OriginalFilename)\""
  case "${name,,}" in
    *.sys) wanted="0x3 0x7" ;;        # VFT_DRV, VFT2_DRV_SYSTEM
    *.dll|*.cpl) wanted="0x2 0x0" ;;  # VFT_DLL
    *.exe) wanted="0x1 0x0" ;;        # VFT_APP
    *) wanted="?" ;;
  esac
  [[ "$type $subtype" == "$wanted" ]] || fail "$name: file type $type $subtype, wanted $wanted"
  grep -qx "translation ${table:0:4} ${table:4:4}" <<<"$facts" ||
    fail "$name: no translation entry for the string table ${table:-none}"
  if [[ -n "$inf" && "$(string CompanyName)" != "$provider" ]]; then
    fail "$name: company \"$(string CompanyName)\", the INF's provider \"$provider\""
  fi
done

if ((failures)); then exit 1; fi
echo "version resources OK: $version${inf:+ (DriverVer $driver_ver)} in $(for i in "$@"; do basename "$i"; done | tr '\n' ' ' | sed 's/ $//')"
