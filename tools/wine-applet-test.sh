#!/usr/bin/env bash
# Runs the real applet, TesZEPDIOConfig.cpl, in Wine's Control Panel on a
# virtual screen, as a user would: with the driver recorded in the registry
# (model 24) and the stand-in TesZEPDIO.dll beside it. It saves a screenshot
# of each tab, enables the DO start output on the DO tab, presses OK and
# checks the keys the applet wrote with "wine reg query" and the DO settings
# the library received.
#
# Screenshots and logs go to build/windows-applet/wine-test/.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-wine.sh >/dev/null
cmake --preset windows-applet >/dev/null
cmake --build --preset windows-applet >/dev/null
tools/check-applet-image.sh build/windows-applet/config/TesZEPDIOConfig.cpl

build=$PWD/build/windows-applet
out=$build/wine-test
rm -rf "$out"
mkdir -p "$out"
cp "$build/config/TesZEPDIOConfig.cpl" "$build/platform/diolib/TesZEPDIO.dll" "$out/"

export WINEPREFIX=$build/wineprefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
service='HKLM\SYSTEM\CurrentControlSet\Services\TESZEPDIOS'
title='ZEPDIO driver Configuration'
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A display of our own.
display=90
while [[ -e /tmp/.X$display-lock ]]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
xvfb=$!
export DISPLAY=":$display"
control=
cleanup() {
  [[ -n "$control" ]] && kill "$control" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

if [[ ! -f $WINEPREFIX/system.reg ]]; then
  wineboot -i >"$out/wineboot.log" 2>&1
fi
wineserver -w

# The registry as the driver leaves it after starting a board of model 24;
# the applet has never run.
wine reg delete "$service" /f >/dev/null 2>&1 || true
wine reg add "$service\\Device000" /v DeviceType /t REG_DWORD /d 24 /f >/dev/null

export TESZEPDIO_LOG
TESZEPDIO_LOG=$(winepath -w "$out/library-calls.log")
(cd "$out" && exec timeout 300 wine control TesZEPDIOConfig.cpl >"$out/control.log" 2>&1) &
control=$!

window=$(timeout 120 xdotool search --sync --name "$title" | head -1) || true
if [[ -z "$window" ]]; then
  fail "the dialog \"$title\" did not open"
  exit 1
fi
sleep 1
shot() { import -window "$window" "$out/$1.png"; }

# Wine draws the caption itself (there is no window manager): the tabs sit
# just below it. A click on the first tab gives the tab control the focus;
# the arrow key then moves from tab to tab as a user's would.
tabs=(Function Interrupt Counter DO)
shot "tab-0-${tabs[0]}"
xdotool mousemove --window "$window" 30 31 click 1
sleep 0.5
for i in 1 2 3; do
  xdotool key Right
  sleep 1
  shot "tab-$i-${tabs[$i]}"
done

# On the DO tab: "Enable DO configuration" for system start, then OK.
xdotool mousemove --window "$window" 36 72 click 1
sleep 0.5
shot "tab-3-DO-start-enabled"
xdotool mousemove --window "$window" 92 262 click 1
if ! wait "$control"; then fail "the Control Panel did not end after OK"; fi
control=

query() { wine reg query "$service\\$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v v="$2" '$1 == v {print $3}'; }
expect() {
  local got
  got=$(query "$1" "$2")
  [[ "$got" == "$3" ]] || fail "$1\\$2 is \"$got\", expected \"$3\""
}
expect DO DO_Trigger_Start 0x1
expect DO DO_Trigger_Shutdown 0x0
expect DO DO_Channel_Start 0x0
expect DO DO_Level_Start 0x1
expect Counter CounterA_CLKSource Internal
expect Counter TimeBase 0
expect Interrupt DI0_Control Enable
expect Interrupt DI1_Control Disable
expect Interrupt DI3_TriggerEdge Falling
grep -qx 'DOSysConfig(1 0 0 0 1 1) = 0' "$out/library-calls.log" ||
  fail "the library did not receive the DO settings (see $out/library-calls.log)"
for i in 0 1 2 3; do
  [[ -s "$out/tab-$i-${tabs[$i]}.png" ]] || fail "no screenshot of tab ${tabs[$i]}"
done

if ((failures)); then exit 1; fi
echo "applet under Wine OK: dialog \"$title\" with tabs ${tabs[*]}; screenshots in $out"
