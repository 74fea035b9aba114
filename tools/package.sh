#!/usr/bin/env bash
# Builds the driver packages into build/package/ (README, "Installing on
# Windows"), each in a folder of its own, signed, with its catalog:
#   TesZEPDIO/        the PCI boards' package (models above 20):
#                     TesZEPDIO.inf, TesZEPDIO.sys, TesZEPDIO.cat
#   TesZEPDIOLatched/ the latched ISA-style boards' package (models 0 to 20):
#                     TesZEPDIOLatched.inf, TesZEPDIO.sys, TesZEPDIOLatched.cat
#   TesZEPDIOApplet/  the applet's software component, which both name:
#                     TesZEPDIOApplet.inf, TesZEPDIOConfig.msi, TesZEPDIOApplet.cat
#   TesZEPDIO-attestation.cab, TesZEPDIOLatched-attestation.cab
#                     each boards' package with the applet's, as the hardware
#                     developer portal takes them for attestation signing,
#                     with the driver's and the applet's PDBs
#   TesZEPDIO-symbols.zip  the PDBs of the driver, the applet and dioctl, for
#                     the debuggers (README, "When a board does not start")
#   TesZEPDIO-test.cer  the test certificate that signed them (test signing)
#   models.txt        the models, hardware IDs and packages the INFs install on
#
#   tools/package.sh [--model CODE=HARDWARE_ID]...
#                    [--cert CERT --key KEY [--pkcs11-module MODULE] --timestamp URL]
#
# --model (repeatable) names the boards' real hardware IDs; without it the
# packages install on the bench's IDs (tools/package/inf.py); a package whose
# boards are not among them is not made. Without --cert, everything is signed
# with a test certificate the packaging makes once (build/test-signing/; a PC
# runs it in test-signing mode only). With --cert, with the company's
# certificate, as osslsigncode takes it (-certs, -key, and -pkcs11module for a
# key on a token), and timestamped: the CABs are then what the portal takes;
# the folders load on no PC with Secure Boot on (Windows loads kernel code
# signed by Microsoft only, or in test-signing mode code it trusts).
set -euo pipefail
cd "$(dirname "$0")/.."

models=()
cert='' key='' module='' timestamp=''
usage="usage: tools/package.sh [--model CODE=HARDWARE_ID]... [--cert CERT --key KEY [--pkcs11-module MODULE] --timestamp URL]"
while (($#)); do
  case "$1" in
    --model) models+=(--model "$2"); shift 2 ;;
    --cert) cert=$2; shift 2 ;;
    --key) key=$2; shift 2 ;;
    --pkcs11-module) module=$2; shift 2 ;;
    --timestamp) timestamp=$2; shift 2 ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
if [[ -n "$cert" && -z "$key" ]] || [[ -z "$cert" && -n "$key" ]]; then
  echo "tools/package.sh: --cert and --key go together" >&2
  exit 2
fi
if [[ -n "$cert" && -z "$timestamp" ]]; then
  echo "tools/package.sh: --cert needs --timestamp URL (the company's timestamping service): a release" \
       "signature without a timestamp stops verifying when the certificate expires" >&2
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
sys_pdb=build/windows-driver/driver/TesZEPDIO.pdb
applet_pdb=build/windows-applet/config/TesZEPDIOConfig.pdb
tool_pdb=build/windows-driver/tool/dioctl.pdb
out=build/package
work=$out/work
rm -rf "$out"
mkdir -p "$work/attestation"

$python tools/package/inf.py --out "$out" "${models[@]}"
packages=()
for package in TesZEPDIO TesZEPDIOLatched; do
  [[ -f "$out/$package/$package.inf" ]] && packages+=("$package")
done

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
  ca_file=''
fi
signing=(-certs "$cert" -key "$key" -h sha256 -n "TesZEPDIO")
[[ -n "$module" ]] && signing+=(-pkcs11module "$module")
[[ -n "$timestamp" ]] && signing+=(-ts "$timestamp")
sign() {  # sign IN OUT
  osslsigncode sign "${signing[@]}" -in "$1" -out "$2" >"$work/sign.log" 2>&1 ||
    { cat "$work/sign.log"; echo "tools/package.sh: signing $1 failed" >&2; exit 1; }
}
catalog() {  # catalog DIR NAME FILE...: DIR/NAME.cat over DIR's files, signed
  local dir=$1 name=$2 hwids=() code hwid owner
  shift 2
  while read -r code hwid owner; do
    [[ "$owner" == "$name" ]] && hwids+=(--hwid "$hwid")
  done <"$out/models.txt"
  $python tools/package/catalog.py --out "$work/$name.cat.unsigned" "${hwids[@]}" "${@/#/$dir/}"
  sign "$work/$name.cat.unsigned" "$dir/$name.cat"
}

# The applet's component: the MSI around the signed applet, signed itself.
sign "$applet" "$work/TesZEPDIOConfig.cpl"
$python tools/package/msi.py --applet "$work/TesZEPDIOConfig.cpl" --out "$work/TesZEPDIOConfig.unsigned.msi"
sign "$work/TesZEPDIOConfig.unsigned.msi" "$out/TesZEPDIOApplet/TesZEPDIOConfig.msi"
catalog "$out/TesZEPDIOApplet" TesZEPDIOApplet TesZEPDIOApplet.inf TesZEPDIOConfig.msi
$python tools/package/infcheck.py /h "$out/TesZEPDIOApplet/TesZEPDIOApplet.inf"

# The boards' packages: the driver's embedded signature (the kernel checks it
# when it loads the driver), the catalog over the signed files. The PCI
# boards' INF is a Windows Driver's (/w), the latched boards' a desktop one
# (/h: its log configuration).
for package in "${packages[@]}"; do
  sign "$sys_image" "$out/$package/TesZEPDIO.sys"
  catalog "$out/$package" "$package" "$package.inf" TesZEPDIO.sys
  mode=/w
  [[ "$package" == TesZEPDIOLatched ]] && mode=/h
  $python tools/package/infcheck.py "$mode" "$out/$package/$package.inf"
done

# The attestation submissions, one per boards' package with the applet's:
# the driver as built (the portal signs it and makes its own catalogs), each
# driver package in a folder of its own with the PDBs of its images, which
# the portal's crash analysis needs ("Attestation sign Windows drivers"),
# each catalog signed: it proves who submits it.
for package in "${packages[@]}"; do
  dir=$work/attestation/$package
  mkdir -p "$dir/$package" "$dir/TesZEPDIOApplet"
  cp "$out/$package/$package.inf" "$sys_image" "$sys_pdb" "$dir/$package/"
  catalog "$dir/$package" "$package" "$package.inf" TesZEPDIO.sys
  cp "$out/TesZEPDIOApplet"/* "$applet_pdb" "$dir/TesZEPDIOApplet/"
  (cd "$dir" && gcab -c -z "../$package-attestation.unsigned.cab" \
    "$package/$package.inf" "$package/TesZEPDIO.sys" "$package/$package.cat" "$package/TesZEPDIO.pdb" \
    TesZEPDIOApplet/TesZEPDIOApplet.inf TesZEPDIOApplet/TesZEPDIOConfig.msi TesZEPDIOApplet/TesZEPDIOApplet.cat \
    TesZEPDIOApplet/TesZEPDIOConfig.pdb)
  sign "$work/attestation/$package-attestation.unsigned.cab" "$out/$package-attestation.cab"
done

# The symbols beside the packages: signing leaves each image's CodeView
# record as it was, so the PDBs match the signed images too.
$python -m zipfile -c "$out/TesZEPDIO-symbols.zip" "$sys_pdb" "$applet_pdb" "$tool_pdb"

# osslsigncode checks what it signed: the embedded signatures, and each
# catalog's signature and members for the images and the MSI.
verify=()
[[ -n "$ca_file" ]] && verify=(-CAfile "$ca_file")
verified=("$out/TesZEPDIOApplet/TesZEPDIOConfig.msi")
for package in "${packages[@]}"; do verified+=("$out/$package/TesZEPDIO.sys" "$out/$package-attestation.cab"); done
for file in "${verified[@]}"; do
  osslsigncode verify "${verify[@]}" -in "$file" >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log"; echo "tools/package.sh: $file does not verify" >&2; exit 1; }
done
members=("TesZEPDIOApplet/TesZEPDIOConfig.msi TesZEPDIOApplet")
for package in "${packages[@]}"; do members+=("$package/TesZEPDIO.sys $package"); done
for pair in "${members[@]}"; do
  read -r file package <<<"$pair"
  osslsigncode verify "${verify[@]}" -catalog "$out/$package/$package.cat" -in "$out/$file" >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log"; echo "tools/package.sh: $file is not in its catalog" >&2; exit 1; }
done

version=$($python tools/package/inf.py --print-version)
echo "driver packages in $out ($version, models $(cut -d' ' -f1 "$out/models.txt" | tr '\n' ' ' | sed 's/ $//')):"
(cd "$out" && find "${packages[@]}" TesZEPDIOApplet TesZEPDIO-test.cer ./*-attestation.cab TesZEPDIO-symbols.zip \
    -type f 2>/dev/null |
  sed 's|^\./||' | sort | xargs stat -c '  %-44n %8s bytes')
if [[ -z "$ca_file" ]]; then
  echo "signed with $cert and timestamped: the CABs are for the hardware portal (attestation for testing, or a" \
       "WHCP submission); the folders load only on a PC in test-signing mode that trusts the certificate"
fi
