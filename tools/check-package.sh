#!/usr/bin/env bash
# Checks the driver packages tools/package.sh builds (in build/package, or
# the folder given): each INF against InfVerif's rules in the mode its package
# must pass (tools/package/infcheck.py: the PCI boards' /w, the latched boards'
# and the applet's /h), the signatures and each catalog's members with
# osslsigncode, and each catalog as Windows' catalog functions read it, in
# 64-bit Wine (tests/wine-package/catalog_check.cpp). Logs go to
# build/package-check/.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/wine-boot.sh
tools/install-deps.sh >/dev/null
tools/install-wine.sh >/dev/null
packages=${1:-}
if [[ -z "$packages" ]]; then
  tools/package.sh >/dev/null
  packages=build/package
fi
packages=$(realpath "$packages")
cmake --preset wine-kernel-test >/dev/null
cmake --build --preset wine-kernel-test --target catalog_check >/dev/null

out=$PWD/build/package-check
rm -rf "$out"
mkdir -p "$out"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The test certificate is the trust anchor when the packages were test-signed.
ca=()
[[ -f "$packages/TesZEPDIO-test.cer" ]] &&
  openssl x509 -inform der -in "$packages/TesZEPDIO-test.cer" -out "$out/test.pem" && ca=(-CAfile "$out/test.pem")

export WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX=$out/prefix
unset DISPLAY
wine64=/usr/lib/wine/wine64
WINEDEBUG=-all wine_boot "$wine64" "$out/wineboot.log" || { echo "FAIL: wineboot did not finish (see $out/wineboot.log)"; exit 1; }

checked=()
for package in TesZEPDIO TesZEPDIOLatched TesZEPDIOApplet; do
  dir=$packages/$package
  [[ -d "$dir" ]] || continue
  checked+=("$package")
  mode=/h
  [[ "$package" == TesZEPDIO ]] && mode=/w
  /usr/bin/python3 tools/package/infcheck.py "$mode" "$dir/$package.inf" || fail "$package.inf is refused ($mode)"
  for file in "$dir"/*.sys "$dir"/*.msi; do
    [[ -f "$file" ]] || continue
    name=$(basename "$file")
    osslsigncode verify "${ca[@]}" -in "$file" >"$out/verify-$package-$name.log" 2>&1 ||
      fail "osslsigncode does not verify the signature of $package/$name ($out/verify-$package-$name.log)"
    osslsigncode verify "${ca[@]}" -catalog "$dir/$package.cat" -in "$file" >"$out/catalog-$package-$name.log" 2>&1 ||
      fail "osslsigncode does not find $package/$name in its signed catalog ($out/catalog-$package-$name.log)"
  done
  status=0
  WINEDEBUG=err+all timeout 60 "$wine64" build/wine-kernel-test/tests/wine-package/catalog_check.exe \
    "Z:${dir//\//\\}" >"$out/catalog-$package.log" 2>"$out/wine-$package.log" || status=$?
  crashes=$(grep -E 'wine: Unhandled|Unhandled exception' "$out/wine-$package.log" || true)
  if ((status != 0)) || [[ -n "$crashes" ]]; then
    fail "the catalog of $package in Wine: exit status $status; logs in $out"
    grep -E 'FAIL' "$out/catalog-$package.log" | head -n 20 || true
  else
    echo "catalog of $package in Wine: $(grep -cE 's ok: ' "$out/catalog-$package.log") checks passed"
    sed -n 's/^ *[0-9.]*s note: /  /p' "$out/catalog-$package.log"
  fi
done
wineserver -k 2>/dev/null || true
wineserver -w
((${#checked[@]})) || fail "no package in $packages"
if ((failures)); then exit 1; fi
rm -rf "$out/prefix"
echo "driver packages OK: ${checked[*]} in $packages"
