#!/usr/bin/env bash
# The applet's MSI in Wine, as the applet's software component has Windows
# install it (TesZEPDIOApplet.inf: msiexec /i, silent, for the machine), in a
# fresh 64-bit prefix:
#
#  1. the shipped, 32-bit TesZEPDIOConfig.msi (build/package, or the package
#     folder given) installs with "msiexec /i ... /qn": TesZEPDIOConfig.cpl,
#     the file the MSI carries, lies in "Program Files (x86)\TesZEPDIO", its
#     Control Panel registration names it in the 32-bit view of the registry
#     and not in the native one, and Apps lists the product with its version;
#  2. the Control Panel lists the applet and opens it
#     (tests/wine-package/control_panel_probe.cpp: the Control Panel's window
#     in the probe's process, a double click on the applet's item, its dialog
#     "ZEPDIO driver Configuration" up and closed again);
#  3. "msiexec /x ... /qn" removes the file, its folder, the registration and
#     the Apps entry.
#
# Wine runs the 32-bit Control Panel and applet with 32-bit Linux code. Where
# the kernel runs no 32-bit programs (or with DIO_WINE_APPLET64=1), step 2
# takes the same MSI source built around the 64-bit build of the applet
# (tools/package/msi.py --arch x64, "Program Files" and the native view),
# installed and removed the same way; steps 1 and 3 always check the shipped
# package. Logs go to build/wine-msi-test/.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/wine-boot.sh
tools/install-deps.sh >/dev/null
tools/install-wine.sh >/dev/null
if [[ -z "${1:-}" ]]; then tools/package.sh >/dev/null; fi
packages=$(realpath "${1:-build/package}")
shipped=$packages/TesZEPDIOApplet/TesZEPDIOConfig.msi

out=$PWD/build/wine-msi-test
rm -rf "$out"
mkdir -p "$out"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The applet's build for the Control Panel step, and the probe of the same kind.
if [[ "${DIO_WINE_APPLET64:-}" == 1 ]] || ! timeout 10 /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  applet_build=build/windows-applet64 arch=x64 wine=/usr/lib/wine/wine64
  echo "this machine runs no 32-bit programs (or DIO_WINE_APPLET64=1): the Control Panel step takes the 64-bit applet"
else
  applet_build=build/windows-applet arch=x86 wine=wine
fi
preset=${applet_build#build/}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" >/dev/null

export WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX=$out/prefix WINEDEBUG=-all
wine64=/usr/lib/wine/wine64
display=90
while [[ -e /tmp/.X$display-lock ]]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
xvfb=$!
export DISPLAY=":$display"
cleanup() {
  [[ -d "$out/prefix" ]] && timeout 20 wineserver -k 2>/dev/null
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do timeout 5 xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
wine_boot "$wine64" "$out/wineboot.log" || { echo "FAIL: wineboot did not finish (see $out/wineboot.log)"; exit 1; }

cpls='HKLM\Software\Microsoft\Windows\CurrentVersion\Control Panel\Cpls'
# The data of value $2 of key $1 in view $3 (32 or 64), or nothing.
query() {
  { timeout 30 "$wine64" reg query "$1" /v "$2" "/reg:$3" 2>/dev/null || true; } | tr -d '\r' |
    awk -v v="$2" '$1 == v {sub(/^ *[^ ]+ +[^ ]+ +/, ""); print}'
}
winpath() { timeout 30 "$wine64" winepath -w "$1" | tr -d '\r'; }
product_code() { msiinfo export "$1" Property | tr -d '\r' | awk '$1 == "ProductCode" {print $2}'; }
msiexec() {  # msiexec /i|/x MSI LOG
  timeout 120 "$wine64" msiexec "$1" "$(winpath "$2")" /qn /l*v "$(winpath "$3")" >/dev/null 2>&1
}

# What the MSI $1 installed, for the program-files folder $2 and registry view $3.
check_installed() {
  local folder=$out/prefix/drive_c/$2/TesZEPDIO other=64 code
  [[ $3 == 64 ]] && other=32
  rm -rf "$out/extracted" && mkdir -p "$out/extracted"
  (cd "$out/extracted" && msiextract "$1" >/dev/null)
  cmp -s "$folder/TesZEPDIOConfig.cpl" "$(find "$out/extracted" -name TesZEPDIOConfig.cpl | head -n 1)" ||
    fail "$2\\TesZEPDIO\\TesZEPDIOConfig.cpl is not the applet the MSI carries"
  [[ "$(query "$cpls" TesZEPDIOConfig "$3")" == "C:\\$2\\TesZEPDIO\\TesZEPDIOConfig.cpl" ]] ||
    fail "the $3-bit view does not register C:\\$2\\TesZEPDIO\\TesZEPDIOConfig.cpl (\"$(query "$cpls" TesZEPDIOConfig "$3")\")"
  [[ -z "$(query "$cpls" TesZEPDIOConfig "$other")" ]] || fail "the $other-bit view registers the applet too"
  code=$(product_code "$1")
  [[ "$(query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$code" DisplayName "$3")" == \
     "TesZEPDIO Control Panel applet" ]] || fail "Apps lists no \"TesZEPDIO Control Panel applet\" ($code)"
}
check_removed() {
  [[ ! -e "$out/prefix/drive_c/$2/TesZEPDIO" ]] || fail "msiexec /x left $2\\TesZEPDIO"
  [[ -z "$(query "$cpls" TesZEPDIOConfig "$3")" ]] || fail "msiexec /x left the Control Panel registration"
  [[ -z "$(query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$(product_code "$1")" DisplayName "$3")" ]] ||
    fail "msiexec /x left the Apps entry"
}

# 1. The shipped package.
msiexec /i "$shipped" "$out/install.log" || fail "msiexec /i $shipped /qn failed (see $out/install.log)"
check_installed "$shipped" "Program Files (x86)" 32

# 2. The Control Panel, with the applet's library where it finds it and the
# registry as the driver leaves it once a board has started.
test_msi=$shipped
files="Program Files (x86)" view=32
if [[ $arch == x64 ]]; then
  msiexec /x "$shipped" "$out/uninstall.log" || fail "msiexec /x $shipped /qn failed (see $out/uninstall.log)"
  check_removed "$shipped" "$files" "$view"
  test_msi=$out/TesZEPDIOConfig-x64.msi files="Program Files" view=64
  /usr/bin/python3 tools/package/msi.py --arch x64 --applet "$applet_build/config/TesZEPDIOConfig.cpl" --out "$test_msi"
  msiexec /i "$test_msi" "$out/install-x64.log" || fail "msiexec /i $test_msi /qn failed (see $out/install-x64.log)"
  check_installed "$test_msi" "$files" "$view"
  cp "$applet_build/platform/diolib/TesZEPDIO.dll" "$out/prefix/drive_c/windows/system32/"
else
  cp "$applet_build/platform/diolib/TesZEPDIO.dll" "$out/prefix/drive_c/windows/syswow64/"
fi
timeout 60 "$wine64" reg add 'HKLM\SYSTEM\CurrentControlSet\Services\TESZEPDIOS\Device000' /v DeviceType \
  /t REG_DWORD /d 24 /f >/dev/null
cp "$applet_build/tests/wine-package/control_panel_probe.exe" "$out/"
timeout 180 "$wine" "$out/control_panel_probe.exe" "Tessaron ZEPDIO WDM driver" "ZEPDIO driver Configuration" \
  >"$out/control-panel.log" 2>"$out/wine.log" || fail "the Control Panel step (see $out/control-panel.log)"
tr -d '\r' <"$out/control-panel.log" | sed 's/^/  /'

# 3. The uninstall.
msiexec /x "$test_msi" "$out/uninstall-$view.log" || fail "msiexec /x $test_msi /qn failed"
check_removed "$test_msi" "$files" "$view"

if ((failures)); then exit 1; fi
timeout 20 wineserver -k 2>/dev/null || true
wineserver -w
rm -rf "$out/prefix" "$out/extracted"
echo "applet MSI under Wine OK: $shipped installs the applet in Program Files (x86) with its 32-bit registration" \
  "and its Apps entry; the Control Panel ($arch) lists and opens it; msiexec /x removes it all"
