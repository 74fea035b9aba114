#!/usr/bin/env bash
# Runs the real applet, TesZEPDIOConfig.cpl, in Wine's Control Panel on a
# virtual screen, as a user would, with the stand-in TesZEPDIO.dll beside it:
#
#  1. model 24 (the library's default board: four tabs): a screenshot of each
#     tab; on the Interrupt tab DI2 is enabled on the rising edge, on the
#     Counter tab Counter B's gate is set to its DI line and the frequency to
#     1K Hz, on the DO tab the start output is enabled; OK.
#  2. model 22 (the nine-channel page, alone under "Interrupt"): DI1 and DI5
#     are cleared, DI8 chosen, DI1 chosen again (its edit must still show);
#     OK.
#
# After each run it checks the keys the applet wrote with "wine reg query"
# and the DO settings the library received. Controls are found by their
# place in the dialog, as measured on the screenshots; the lists are worked
# with the keyboard once a click has opened them.
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

# Places in the dialog, in pixels from its top left corner (Wine draws the
# caption itself: there is no window manager).
tab_first=(30 31)     # the first tab
ok_button=(92 262)
int_list=(100 64)     # dialogs 104 and 106: the channel list
int_enable=(141 90)   #   "Enable Control"
int_rising=(68 129)   #   "Rising" (104 only)
cnt_counter=(105 69)  # dialog 105: the counter list
cnt_gate_line=(121 140)  # the gate's DI line
cnt_frequency=(205 212)  # the frequency list
do_start=(36 72)      # dialog 107: "Enable DO configuration" at start

window=
shot() { import -window "$window" "$out/$1.png"; }
click() {
  xdotool mousemove --window "$window" "$1" "$2" click 1
  sleep 0.5
}
# Opens the list at x y and moves the selection down by $3 entries.
choose() {
  click "$1" "$2"
  for ((i = 0; i < $3; i++)); do xdotool key Down; done
  xdotool key Return
  sleep 0.5
}

# The registry as the driver leaves it after starting a board of model $1;
# the applet has never run. Then the applet, until its dialog is up.
open_applet() {
  wine reg delete "$service" /f >/dev/null 2>&1 || true
  wine reg add "$service\\Device000" /v DeviceType /t REG_DWORD /d "$1" /f >/dev/null
  TESZEPDIO_LOG=$(winepath -w "$out/library-calls-$1.log")
  export TESZEPDIO_LOG
  (cd "$out" && exec timeout 300 wine control TesZEPDIOConfig.cpl >"$out/control-$1.log" 2>&1) &
  control=$!
  window=$(timeout 120 xdotool search --sync --name "$title" | head -1) || true
  if [[ -z "$window" ]]; then
    fail "model $1: the dialog \"$title\" did not open"
    exit 1
  fi
  sleep 1
}

press_ok() {
  click "${ok_button[@]}"
  if ! wait "$control"; then fail "the Control Panel did not end after OK"; fi
  control=
}

query() { wine reg query "$service\\$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v v="$2" '$1 == v {print $3}'; }
expect() {
  local got
  got=$(query "$1" "$2")
  [[ "$got" == "$3" ]] || fail "$1\\$2 is \"$got\", expected \"$3\""
}

# --- 1. Model 24: four tabs. A click on the first tab gives the tab control
# the focus; the arrow key then moves from tab to tab as a user's would.
open_applet 24
tabs=(Function Interrupt Counter DO)
shot "24-tab-0-${tabs[0]}"
click "${tab_first[@]}"
xdotool key Right
sleep 1
shot "24-tab-1-Interrupt"
choose "${int_list[@]}" 2  # DI2: disabled, falling edge at first
click "${int_enable[@]}"
click "${int_rising[@]}"
shot "24-tab-1-Interrupt-DI2-edited"

click "${tab_first[@]}"
xdotool key Right Right
sleep 1
shot "24-tab-2-Counter"
choose "${cnt_counter[@]}" 1  # Counter B
click "${cnt_gate_line[@]}"
choose "${cnt_frequency[@]}" 2  # from 100K Hz to 1K Hz
shot "24-tab-2-Counter-B-edited"

click "${tab_first[@]}"
xdotool key Right Right Right
sleep 1
shot "24-tab-3-DO"
click "${do_start[@]}"
shot "24-tab-3-DO-start-enabled"
press_ok

expect DO DO_Trigger_Start 0x1
expect DO DO_Trigger_Shutdown 0x0
expect DO DO_Channel_Start 0x0
expect DO DO_Level_Start 0x1
expect Counter CounterA_CLKSource Internal
expect Counter CounterA_GateControl Internal
expect Counter CounterB_GateControl DI
expect Counter CounterB_Output Register
expect Counter TimeBase 2
expect Interrupt DI0_Control Enable
expect Interrupt DI1_Control Disable
expect Interrupt DI2_Control Enable
expect Interrupt DI2_TriggerEdge Rising
expect Interrupt DI3_Control Disable
expect Interrupt DI3_TriggerEdge Falling
grep -qx 'DOSysConfig(1 0 0 0 1 1) = 0' "$out/library-calls-24.log" ||
  fail "the library did not receive the DO settings (see $out/library-calls-24.log)"

# --- 2. Model 22: one tab, the nine-channel page. An edit lasts across a
# change of channel.
open_applet 22
shot "22-tab-0-Interrupt"
# DI1 has a stored value (from the first-run defaults), DI5 has none yet.
choose "${int_list[@]}" 1  # DI1
click "${int_enable[@]}"
choose "${int_list[@]}" 4  # DI5
click "${int_enable[@]}"
choose "${int_list[@]}" 8  # past the end of the list: DI8
shot "22-tab-0-Interrupt-DI8"
click "${int_list[@]}"  # DI1 again: seven up from DI8
xdotool key Up Up Up Up Up Up Up Return
sleep 0.5
shot "22-tab-0-Interrupt-DI1-cleared"
press_ok

for n in 0 2 3 4 6 7 8; do expect Interrupt "DI${n}_Control" Enable; done
expect Interrupt DI1_Control Disable
expect Interrupt DI5_Control Disable
[[ -z "$(query Interrupt DI2_TriggerEdge)" ]] || fail "the nine-channel page wrote a trigger edge"
expect Interrupt DI0_TriggerEdge Rising  # from the first-run defaults
[[ -z "$(query Counter CounterA_Output | grep -v Register)" ]] || fail "model 22 changed the counter values"

for shot in 24-tab-0-Function 24-tab-1-Interrupt 24-tab-2-Counter 24-tab-3-DO 22-tab-0-Interrupt; do
  [[ -s "$out/$shot.png" ]] || fail "no screenshot $shot"
done

if ((failures)); then exit 1; fi
echo "applet under Wine OK: model 24 with tabs ${tabs[*]}, model 22 with the nine-channel Interrupt page;" \
  "keys checked after real clicks; screenshots in $out"
