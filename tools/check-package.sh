#!/usr/bin/env bash
# Checks the driver package tools/package.sh builds (build/package/TesZEPDIO,
# or the package directory given): the INF against InfVerif's rules
# (tools/package/infcheck.py), the signatures and the catalog's members with
# osslsigncode, and the catalog as Windows' catalog functions read it, in
# 64-bit Wine (tests/wine-package/catalog_check.cpp). Logs go to
# build/package-check/.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh >/dev/null
tools/install-wine.sh >/dev/null
package=${1:-}
if [[ -z "$package" ]]; then
  tools/package.sh >/dev/null
  package=build/package/TesZEPDIO
fi
package=$(realpath "$package")
cmake --preset wine-kernel-test >/dev/null
cmake --build --preset wine-kernel-test --target catalog_check >/dev/null

out=$PWD/build/package-check
rm -rf "$out"
mkdir -p "$out"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

/usr/bin/python3 tools/package/infcheck.py "$package/TesZEPDIO.inf" || fail "the INF is refused"

# The test certificate is the trust anchor when the package was test-signed.
ca=()
[[ -f "$package/../TesZEPDIO-test.cer" ]] &&
  openssl x509 -inform der -in "$package/../TesZEPDIO-test.cer" -out "$out/test.pem" && ca=(-CAfile "$out/test.pem")
for image in TesZEPDIO.sys TesZEPDIOConfig.cpl; do
  osslsigncode verify "${ca[@]}" -in "$package/$image" >"$out/verify-$image.log" 2>&1 ||
    fail "osslsigncode does not verify the signature of $image ($out/verify-$image.log)"
  osslsigncode verify "${ca[@]}" -catalog "$package/TesZEPDIO.cat" -in "$package/$image" \
    >"$out/catalog-$image.log" 2>&1 ||
    fail "osslsigncode does not find $image in the signed catalog ($out/catalog-$image.log)"
done

export WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX=$out/prefix
unset DISPLAY
wine64=/usr/lib/wine/wine64
WINEDEBUG=-all "$wine64" wineboot -i >"$out/wineboot.log" 2>&1
status=0
WINEDEBUG=err+all timeout 60 "$wine64" build/wine-kernel-test/tests/wine-package/catalog_check.exe \
  "Z:${package//\//\\}" >"$out/catalog.log" 2>"$out/wine.log" || status=$?
wineserver -k 2>/dev/null || true
wineserver -w
crashes=$(grep -E 'wine: Unhandled|Unhandled exception' "$out/wine.log" || true)
if ((status != 0)) || [[ -n "$crashes" ]]; then
  fail "the catalog check in Wine: exit status $status; logs in $out"
  grep -E 'FAIL' "$out/catalog.log" | head -n 20 || true
else
  echo "catalog in Wine: $(grep -c 'catalog ok:' "$out/catalog.log") checks passed"
  grep 'catalog note:' "$out/catalog.log" | sed 's/^catalog note: /  /' || true
fi
if ((failures)); then exit 1; fi
rm -rf "$out/prefix"
echo "driver package OK: $package"
