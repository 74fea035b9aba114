#!/usr/bin/env bash
# Builds the driver package into build/package/ (README, "Installing on
# Windows"):
#   TesZEPDIO/                 the package pnputil installs: TesZEPDIO.inf,
#                              TesZEPDIO.sys and TesZEPDIOConfig.cpl, each
#                              signed, and the signed catalog TesZEPDIO.cat
#   TesZEPDIO-test.cer         the test certificate that signed them
#   TesZEPDIO-attestation.cab  the package as the hardware developer portal
#                              takes it for attestation signing, with the
#                              images' PDBs for its crash analysis
#   TesZEPDIO-symbols.zip      the PDBs of the driver, the applet and dioctl,
#                              for the debuggers (README, "When a board does
#                              not start")
#   models.txt                 the models and hardware IDs the INF installs on
#
#   tools/package.sh [--model CODE=HARDWARE_ID]...
#                    [--cert CERT --key KEY [--pkcs11-module MODULE] [--timestamp URL]]
#
# --model (repeatable) names the boards' real hardware IDs; without it the
# package installs on the bench's IDs (tools/package/inf.py). Without --cert,
# everything is signed with a test certificate the packaging makes once
# (build/test-signing/; a PC runs it in test-signing mode only); with it, with
# the company's certificate, as osslsigncode takes it (-certs, -key, and
# -pkcs11module for a key on a token).
set -euo pipefail
cd "$(dirname "$0")/.."

models=()
cert='' key='' module='' timestamp=''
while (($#)); do
  case "$1" in
    --model) models+=(--model "$2"); shift 2 ;;
    --cert) cert=$2; shift 2 ;;
    --key) key=$2; shift 2 ;;
    --pkcs11-module) module=$2; shift 2 ;;
    --timestamp) timestamp=$2; shift 2 ;;
    *) echo "usage: tools/package.sh [--model CODE=HARDWARE_ID]... [--cert CERT --key KEY" \
            "[--pkcs11-module MODULE] [--timestamp URL]]" >&2; exit 2 ;;
  esac
done
if [[ -n "$cert" && -z "$key" ]] || [[ -z "$cert" && -n "$key" ]]; then
  echo "tools/package.sh: --cert and --key go together" >&2
  exit 2
fi

tools/install-deps.sh >/dev/null
cmake --preset windows-driver >/dev/null
cmake --build --preset windows-driver >/dev/null
cmake --preset windows-applet >/dev/null
cmake --build --preset windows-applet >/dev/null

# Debian's Python, which has python3-asn1crypto (another python3 may be first
# on the PATH).
python=/usr/bin/python3
sys_image=build/windows-driver/driver/TesZEPDIO.sys
applet=build/windows-applet/config/TesZEPDIOConfig.cpl
pdbs=(build/windows-driver/driver/TesZEPDIO.pdb build/windows-applet/config/TesZEPDIOConfig.pdb)
tool_pdb=build/windows-driver/tool/dioctl.pdb
out=build/package
package=$out/TesZEPDIO
work=$out/work
rm -rf "$package" "$work" "$out/TesZEPDIO-attestation.cab" "$out/TesZEPDIO-symbols.zip"
mkdir -p "$package" "$work/attestation/TesZEPDIO"

# DriverVer: the date of the commit built, and the version of the file
# VERSION, which the images carry too.
driver_date=$(git log -1 --format=%cd --date=format:%m/%d/%Y 2>/dev/null) || driver_date=$(date -u +%m/%d/%Y)
driver_ver="$driver_date,$(head -n 1 VERSION)"
$python tools/package/inf.py --template driver/TesZEPDIO.inf.in --out "$package/TesZEPDIO.inf" \
  --driver-date "$driver_date" --models-out "$out/models.txt" "${models[@]}"
hwids=()
while read -r _ hwid; do hwids+=(--hwid "$hwid"); done <"$out/models.txt"

# The signing certificate: the company's, or the test certificate.
if [[ -z "$cert" ]]; then
  keys=build/test-signing
  cert=$keys/TesZEPDIO-test.pem
  key=$keys/TesZEPDIO-test.key
  if [[ ! -f "$cert" || ! -f "$key" ]]; then
    mkdir -p "$keys"
    # A self-signed code-signing certificate, as Windows' test signing takes
    # it: the PC trusts it as a root and as a trusted publisher.
    cat >"$keys/openssl.cnf" <<'EOF'
[req]
distinguished_name = name
x509_extensions = test_signing
prompt = no
[name]
O = Tessaron
CN = TesZEPDIO test signing (not for release)
[test_signing]
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
EOF
    openssl req -x509 -newkey rsa:3072 -sha256 -days 3650 -nodes -config "$keys/openssl.cnf" \
      -keyout "$key" -out "$cert" 2>/dev/null
  fi
  openssl x509 -in "$cert" -outform der -out "$out/TesZEPDIO-test.cer"
  ca_file=$cert
else
  rm -f "$out/TesZEPDIO-test.cer"
  ca_file=''
fi
signing=(-certs "$cert" -key "$key" -h sha256 -n "TesZEPDIO")
[[ -n "$module" ]] && signing+=(-pkcs11module "$module")
[[ -n "$timestamp" ]] && signing+=(-ts "$timestamp")
sign() {  # sign IN OUT
  osslsigncode sign "${signing[@]}" -in "$1" -out "$2" >"$work/sign.log" 2>&1 ||
    { cat "$work/sign.log"; echo "tools/package.sh: signing $1 failed" >&2; exit 1; }
}
catalog() {  # catalog DIR: the catalog of the INF and images in DIR, signed
  $python tools/package/catalog.py --out "$work/TesZEPDIO.cat.unsigned" "${hwids[@]}" \
    "$1/TesZEPDIO.inf" "$1/TesZEPDIO.sys" "$1/TesZEPDIOConfig.cpl"
  sign "$work/TesZEPDIO.cat.unsigned" "$1/TesZEPDIO.cat"
}

# The installable package: embedded signatures on both images (the kernel
# checks the driver's when it loads it), the catalog over the signed files.
sign "$sys_image" "$package/TesZEPDIO.sys"
sign "$applet" "$package/TesZEPDIOConfig.cpl"
catalog "$package"
$python tools/package/infcheck.py "$package/TesZEPDIO.inf"

# The attestation submission: the files as built (the portal signs them and
# makes its own catalog), each driver package in a folder of its own, with
# the images' PDBs, which the portal's crash analysis needs ("Attestation
# sign Windows drivers"); the catalog, signed, proves who submits it.
cp "$package/TesZEPDIO.inf" "$sys_image" "$applet" "${pdbs[@]}" "$work/attestation/TesZEPDIO/"
catalog "$work/attestation/TesZEPDIO"
(cd "$work/attestation" && gcab -c -z ../TesZEPDIO-attestation.unsigned.cab \
  TesZEPDIO/TesZEPDIO.inf TesZEPDIO/TesZEPDIO.sys TesZEPDIO/TesZEPDIOConfig.cpl TesZEPDIO/TesZEPDIO.cat \
  TesZEPDIO/TesZEPDIO.pdb TesZEPDIO/TesZEPDIOConfig.pdb)
sign "$work/TesZEPDIO-attestation.unsigned.cab" "$out/TesZEPDIO-attestation.cab"

# The symbols beside the package: signing leaves each image's CodeView
# record as it was, so the PDBs match the signed images too.
$python -m zipfile -c "$out/TesZEPDIO-symbols.zip" "${pdbs[@]}" "$tool_pdb"

# osslsigncode checks what it signed: the embedded signatures, and the
# catalog's signature and members for each image.
verify=()
[[ -n "$ca_file" ]] && verify=(-CAfile "$ca_file")
for file in "$package/TesZEPDIO.sys" "$package/TesZEPDIOConfig.cpl" "$out/TesZEPDIO-attestation.cab"; do
  osslsigncode verify "${verify[@]}" -in "$file" >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log"; echo "tools/package.sh: $file does not verify" >&2; exit 1; }
done
for file in "$package/TesZEPDIO.sys" "$package/TesZEPDIOConfig.cpl"; do
  osslsigncode verify "${verify[@]}" -catalog "$package/TesZEPDIO.cat" -in "$file" >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log"; echo "tools/package.sh: $file is not in the catalog" >&2; exit 1; }
done

echo "driver package in $package ($driver_ver, models $(cut -d' ' -f1 "$out/models.txt" | tr '\n' ' ' | sed 's/ $//')):"
(cd "$out" && find TesZEPDIO TesZEPDIO-test.cer TesZEPDIO-attestation.cab TesZEPDIO-symbols.zip -type f 2>/dev/null |
  sort | xargs stat -c '  %-30n %8s bytes')
