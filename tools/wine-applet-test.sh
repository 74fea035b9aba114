#!/usr/bin/env bash
# Runs the real applet, TesZEPDIOConfig.cpl, in Wine's Control Panel on a
# virtual screen, as a user would, installed as the README says: the
# stand-in TesZEPDIO.dll in the system folder, the applet in a folder of its
# own ("applet folder", with a space), the Control Panel started from a third
# folder with the applet's quoted path, as the applet's elevated restart
# starts it. At 96 dots per inch (Wine's LogPixels):
#
#  1. model 24 (the library's default board: four tabs), with the keyboard
#     alone: the arrows go through the tabs, Tab into each page; on the
#     Interrupt page DI2 is enabled on the rising edge, on the Counter page
#     Counter B's gate goes to its DI line and the frequency to 1K Hz, on the
#     DO page the start output is enabled on DO1; Ctrl+Tab, Ctrl+Shift+Tab,
#     Ctrl+PgUp and Ctrl+PgDn go round the tabs, a mnemonic (Alt+S) reaches
#     its list; Enter is OK.
#  2. model 22 (the nine-channel page, alone under "Interrupt"), with the
#     mouse: DI1 and DI5 are cleared, DI8 chosen, DI1 chosen again (its edit
#     must still show); OK.
#
# Then at 120, 144 and 192 dots per inch (125 %, 150 %, 200 %): both dialogs
# opened, every tab shown (Ctrl+PgDn), closed with Esc.
#
# Each dialog is checked when it opens, at every scale: every page must lie
# inside the tab control's display area; each indicator of the support page
# must be drawn by the page over its 8 x 8 dialog units; the text of every
# static, button, check box, radio button and list entry of every page must
# fit its control (GetTextExtentPoint32 in the control's font against its
# client area); and every control's accessible name and state
# (AccessibleObjectFromWindow) must say what it is: each indicator its
# function and whether the board has it, no two controls of one kind on a
# page alike, a disabled control unavailable. The dialog must grow with the
# scale. After each run the keys the applet wrote are checked with "wine reg
# query", and the DO settings the library received. dialog_probe.exe, run in
# the same Wine, says where each control really is (for the clicks) and when
# the dialog has reached a state (after keys and clicks); nothing waits a
# fixed time, and every step has a time limit. The fonts are Wine's own
# (tools/install-wine.sh). Wine has no registry rights and no UAC: the shield
# button, the elevated restart and the refused save are tested on the Win32
# stand-in.
#
# Wine runs a 32-bit Windows program with 32-bit Linux code. Where the
# kernel runs 32-bit programs itself, all of the above runs on the shipped
# 32-bit image. Where it does not, it runs on the 64-bit build of the same
# sources (preset windows-applet64, in 64-bit Wine), and the shipped 32-bit
# image then runs in 32-bit Wine under qemu-user (see "The shipped 32-bit
# image under qemu-user" below): its CPlApplet answers, the dialog through control.exe at 96
# dots per inch, every tab reached by the keyboard and shot, OK storing the
# keys. When a 32-bit Wine program does not start there within its time
# limit, the run says so and the 64-bit run stands alone.
# DIO_WINE_APPLET64=1 takes the 64-bit build for the full run on any machine;
# DIO_WINE_QEMU32_LIMIT sets the 32-bit Wine's time limit (150 s).
#
# Screenshots and logs go to build/windows-applet*/wine-test/, those of each
# scale to its NN-dpi/ folder; the 32-bit run's to build/windows-applet/wine-test-qemu32/.
set -Eeuo pipefail
# A step that fails says so, even one whose own output goes to a log.
trap 'echo "FAIL: line $LINENO: \"$BASH_COMMAND\" ended with status $?" >&2' ERR
cd "$(dirname "$0")/.."
. tools/wine-boot.sh
started=$SECONDS
tools/install-wine.sh >/dev/null
cmake --preset windows-applet >/dev/null
cmake --build --preset windows-applet >/dev/null
tools/check-applet-image.sh build/windows-applet/config/TesZEPDIOConfig.cpl
# The DIO library's five functions are stdcall (TesZEPDIO.h): each pops its
# own arguments, four bytes each. The 32-bit stand-in's exports say so with
# the first "ret" of each, found from the export table.
check_stdcall() {
  local dll=$1 headers base entry name bytes index rva code ret
  headers=$(i686-w64-mingw32-objdump -p "$dll")
  base=$(awk '/^ImageBase/ {print $2}' <<<"$headers")
  for entry in DeviceOpen:8 DeviceClose:4 GetDeviceInfor:16 DeviceDIOInfo:8 DOSysConfig:4; do
    name=${entry%:*} bytes=${entry#*:}
    index=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" | awk -v n="$name" '$NF == n {print $2; exit}')
    index=${index%]}
    rva=$(sed -n '/Export Address Table -- Ordinal Base/,/^$/p' <<<"$headers" |
      awk -v i="$index" '$1 == "[" && $2 == i "]" {print $(NF - 2); exit}')
    [[ -n "$rva" ]] || { echo "FAIL: $dll exports no $name"; return 1; }
    code=$(i686-w64-mingw32-objdump -d --start-address=$((0x$base + 0x$rva)) \
      --stop-address=$((0x$base + 0x$rva + 0x800)) "$dll")
    ret=$(awk '$0 ~ /\tret/ {sub(/.*\tret[ \t]*/, ""); print; exit}' <<<"$code")
    [[ "$ret" == "\$0x$(printf %x "$bytes")" ]] ||
      { echo "FAIL: $name in $dll returns with \"ret ${ret:-?}\", not ret \$$bytes: not stdcall"; return 1; }
  done
  echo "DIO library image: its five exports are stdcall (they return with ret 8, 4, 16, 8, 4)"
}
check_stdcall build/windows-applet/platform/diolib/TesZEPDIO.dll

# Whether the kernel itself runs 32-bit programs: the 32-bit loader answers,
# and no binfmt_misc entry hands i386 programs to an emulator (under which
# a 32-bit Wine prefix takes many minutes).
native32() {
  timeout 10 /lib/ld-linux.so.2 --version >/dev/null 2>&1 || return 1
  local entry
  for entry in /proc/sys/fs/binfmt_misc/*i386*; do
    [[ -f "$entry" ]] && grep -qsx enabled "$entry" && return 1
  done
  return 0
}

build=$PWD/build/windows-applet
wine=wine
export WINEARCH=win32
full32=1
if [[ "${DIO_WINE_APPLET64:-}" == 1 ]] || ! native32; then
  echo "this machine's kernel runs no 32-bit programs (or DIO_WINE_APPLET64=1): the full Wine run takes the" \
    "64-bit build of the applet, and the shipped 32-bit image runs after it under qemu-user"
  full32=
  cmake --preset windows-applet64 >/dev/null
  cmake --build --preset windows-applet64 >/dev/null
  build=$PWD/build/windows-applet64
  wine=/usr/lib/wine/wine64
  export WINEARCH=win64 WINELOADER=$wine
fi
out=$build/wine-test
applet_dir="$out/applet folder"
rm -rf "$out"
mkdir -p "$applet_dir"
cp "$build/config/TesZEPDIOConfig.cpl" "$applet_dir/"
cp "$build/tests/wine-applet/dialog_probe.exe" "$out/"

export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
service='HKLM\SYSTEM\CurrentControlSet\Services\TESZEPDIOS'
title='ZEPDIO driver Configuration'
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
fatal() {
  echo "FAIL: $*"
  exit 1
}

# A display of our own.
display=90
while [[ -e /tmp/.X$display-lock ]]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
xvfb=$!
export DISPLAY=":$display"
control=
binfmt_entry= binfmt_mounted=
cleanup() {
  [[ -n "$control" ]] && kill "$control" 2>/dev/null || true
  timeout 20 wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  # The emulator's registration goes as it came: only the run's own.
  [[ -n "$binfmt_entry" ]] && echo -1 >"$binfmt_entry" 2>/dev/null || true
  [[ -n "$binfmt_mounted" ]] && umount /proc/sys/fs/binfmt_misc 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do timeout 5 xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

if [[ ! -f $WINEPREFIX/system.reg ]]; then
  wine_boot "$wine" "$out/wineboot.log" || fatal "wineboot did not finish (see $out/wineboot.log)"
fi
timeout 60 wineserver -w || fatal "Wine's setup of the prefix did not end"
# One server for the whole run, so that no program meets a server that is
# just shutting down after the one before it ended.
wineserver -p
# The DIO library where the README puts it: the system folder of the
# applet's kind (a 32-bit prefix's, or a 64-bit one's for the 64-bit build).
cp "$build/platform/diolib/TesZEPDIO.dll" "$WINEPREFIX/drive_c/windows/system32/"
applet_path=$(timeout 30 "$wine" winepath -w "$applet_dir/TesZEPDIOConfig.cpl" | tr -d '\r')

probe() { (cd "$out" && timeout 30 "$wine" dialog_probe.exe "$@" 2>>"$out/probe.log") | tr -d '\r'; }
# Waits at most ten seconds for a state of the dialog, or gives up the run
# and says what the dialog showed instead.
until_state() {
  local now
  now=$(probe wait 10000 "$@") || fatal "the dialog did not reach: $* (it shows ${now:-nothing})"
}
keys() { timeout 20 xdotool key --delay 40 "$@"; }

window=
shots=$out
shot() { timeout 20 import -window "$window" "$shots/$1.png" || fail "no screenshot $1"; }
tabs=(Function Interrupt Counter DO)
# A click in the middle of control $1, wherever the dialog put it.
click() {
  local rect
  rect=$(probe rect "$title" "$1") || fatal "no control $1 in the dialog"
  read -r left top right bottom <<<"$rect"
  timeout 10 xdotool mousemove $(((left + right) / 2)) $(((top + bottom) / 2)) click 1
}
# Opens list $1 with a click and moves its selection with the keyboard to
# entry $3 ($2 presses of Down, or Up when negative).
choose() {
  click "$1"
  local key=Down count=$2
  ((count < 0)) && key=Up count=$((-count))
  for ((i = 0; i < count; i++)); do keys "$key"; done
  keys Return
  until_state selection "$title" "$1" "$3"
}

# The scale of the programs started from now on: Wine's LogPixels, which
# each program reads when it starts. Screenshots and logs go to its folder.
scale() {
  timeout 60 "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null
  shots=$out/$1-dpi
  mkdir -p "$shots"
}

# The registry as the driver leaves it after starting a board of model $1;
# the applet has never run. Then the applet, started from another folder
# than its own, until its dialog is up with the keyboard focus, and the
# checks of its geometry and (where it has them) its indicators.
open_applet() {
  timeout 60 "$wine" reg delete "$service" /f >/dev/null 2>&1 || true
  timeout 60 "$wine" reg add "$service\\Device000" /v DeviceType /t REG_DWORD /d "$1" /f >/dev/null
  TESZEPDIO_LOG=$("$wine" winepath -w "$shots/library-calls-$1.log")
  export TESZEPDIO_LOG
  # A library the loader cannot find is said in the log.
  (cd "$out" && WINEDEBUG=-all,err+module exec timeout 300 "$wine" control "$applet_path" >"$shots/control-$1.log" 2>&1) &
  control=$!
  probe wait 60000 window "$title" >/dev/null ||
    fatal "model $1: the dialog \"$title\" did not open (see $shots/control-$1.log)"
  window=$(timeout 10 xdotool search --name "$title" | head -1)
  [[ -n "$window" ]] || fatal "model $1: no X window for the dialog"
  timeout 10 xdotool windowfocus "$window" || true
  probe geometry "$title" >"$shots/geometry-$1.txt" ||
    fail "model $1: a page reaches outside the tab control's display area (see $shots/geometry-$1.txt)"
  [[ "${checks:-all}" == geometry ]] && return
  if [[ $1 != 22 ]]; then
    probe indicators "$title" >"$shots/indicators-$1.txt" ||
      fail "model $1: an indicator is not drawn by the page over its 8 x 8 dialog units (see $shots/indicators-$1.txt)"
  fi
  probe fit "$title" >"$shots/fit-$1.txt" || fail "model $1: a text does not fit its control (see $shots/fit-$1.txt)"
  probe names "$title" >"$shots/names-$1.txt" ||
    fail "model $1: an accessible name or state is wrong (see $shots/names-$1.txt)"
}

# The tab control's width in the geometry log of model $1 at scale $2.
tab_width() { awk '/^tab control:/ {print $5 - $3; exit}' "$out/$2-dpi/geometry-$1.txt"; }

# Ends the Control Panel once the dialog is gone.
closed() {
  until_state gone "$title"
  if ! timeout 30 tail --pid="$control" -f /dev/null; then fail "the Control Panel did not end after the dialog"; fi
  wait "$control" || fail "the Control Panel ended with an error"
  control=
}

# The value $2 of key $1, or nothing when it is not there.
query() {
  { timeout 30 "$wine" reg query "$service\\$1" /v "$2" 2>/dev/null || true; } | tr -d '\r' | awk -v v="$2" '$1 == v {print $3}'
}
expect() {
  local got
  got=$(query "$1" "$2")
  [[ "$got" == "$3" ]] || fail "$1\\$2 is \"$got\", expected \"$3\""
}

# --- 1. Model 24 with the keyboard alone. The tab strip has the focus when
# the dialog opens; Tab goes from it into the page shown.
scale 96
open_applet 24
tabs=(Function Interrupt Counter DO)
until_state focus "$title" 1000
shot "24-tab-0-${tabs[0]}"
keys Right
until_state tab "$title" 1
shot "24-tab-1-Interrupt"
keys Tab
until_state focus "$title" 1013  # the channel list
keys Down                        # DI2: disabled, falling edge at first
until_state selection "$title" 1013 1
keys Down
until_state selection "$title" 1013 2
keys Tab
until_state focus "$title" 1004  # "Enable Control"
keys space
until_state check "$title" 1004 1
keys Tab
until_state focus "$title" 1006  # "Falling", the checked one
keys Up
until_state check "$title" 1014 1  # "Rising"
shot "24-tab-1-Interrupt-DI2-edited"
keys shift+Tab shift+Tab shift+Tab
until_state focus "$title" 1000

keys Right
until_state tab "$title" 2
shot "24-tab-2-Counter"
keys Tab
until_state focus "$title" 1003  # the counter list
keys Down                        # Counter B
until_state selection "$title" 1003 1
keys Tab Tab
until_state focus "$title" 1007  # the gate: internal
keys Down
until_state check "$title" 1008 1  # the gate's DI line
keys Tab Tab
until_state focus "$title" 1011  # the frequency list
keys Down                        # from 100K Hz to 1K Hz
until_state selection "$title" 1011 1
keys Down
until_state selection "$title" 1011 2
shot "24-tab-2-Counter-B-edited"
keys shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab
until_state focus "$title" 1000

keys Right
until_state tab "$title" 3
shot "24-tab-3-DO"
keys Tab
until_state focus "$title" 1022  # "Enable DO configuration" at start
keys space
until_state check "$title" 1022 1
keys Tab
until_state focus "$title" 1024  # its channel list
keys Down                        # DO1
until_state selection "$title" 1024 1
shot "24-tab-3-DO-start-enabled"
# Round the tabs with Ctrl, as in a property sheet, then back to the DO
# page's start channel by its label's mnemonic.
keys ctrl+Tab
until_state tab "$title" 0
keys ctrl+shift+Tab
until_state tab "$title" 3
keys ctrl+Prior
until_state tab "$title" 2
keys ctrl+Next
until_state tab "$title" 3
keys alt+s
until_state focus "$title" 1024
keys Return
closed

expect DO DO_Trigger_Start 0x1
expect DO DO_Trigger_Shutdown 0x0
expect DO DO_Channel_Start 0x1
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
grep -qx 'DOSysConfig(1 0 1 0 1 1) = 0' "$shots/library-calls-24.log" ||
  fail "the library did not receive the DO settings (see $shots/library-calls-24.log)"

# --- 2. Model 22 with the mouse: one tab, the nine-channel page. An edit
# lasts across a change of channel.
open_applet 22
shot "22-tab-0-Interrupt"
# DI1 has a stored value (from the first-run defaults), DI5 has none yet.
choose 1021 1 1  # DI1
click 1017
until_state check "$title" 1017 0
choose 1021 4 5  # DI5
click 1017
until_state check "$title" 1017 0
choose 1021 8 8  # past the end of the list: DI8
shot "22-tab-0-Interrupt-DI8"
choose 1021 -7 1  # DI1 again: its edit still shows
until_state check "$title" 1017 0
shot "22-tab-0-Interrupt-DI1-cleared"
click 1  # OK
closed

for n in 0 2 3 4 6 7 8; do expect Interrupt "DI${n}_Control" Enable; done
expect Interrupt DI1_Control Disable
expect Interrupt DI5_Control Disable
[[ -z "$(query Interrupt DI2_TriggerEdge)" ]] || fail "the nine-channel page wrote a trigger edge"
expect Interrupt DI0_TriggerEdge Rising  # from the first-run defaults
[[ -z "$(query Counter CounterA_Output | grep -v Register)" ]] || fail "model 22 changed the counter values"

# --- 3. At 125 %, 150 % and 200 %: each dialog and every tab (Ctrl+PgDn),
# then Esc.
for dpi in 120 144 192; do
  scale "$dpi"
  open_applet 24
  until_state focus "$title" 1000
  shot "24-tab-0-${tabs[0]}"
  for i in 1 2 3; do
    keys ctrl+Next
    until_state tab "$title" "$i"
    shot "24-tab-$i-${tabs[$i]}"
  done
  keys Escape
  closed
  open_applet 22
  shot "22-tab-0-Interrupt"
  keys Escape
  closed
done
for model in 24 22; do
  narrow=$(tab_width "$model" 96)
  for dpi in 144 192; do
    wide=$(tab_width "$model" "$dpi")
    ((wide * 96 * 9 >= narrow * dpi * 8)) ||
      fail "model $model: at $dpi dots per inch the tab control is $wide pixels wide, at 96 $narrow: Wine did not scale"
  done
done

for dpi in 96 120 144 192; do
  for shot in 24-tab-0-Function 24-tab-1-Interrupt 24-tab-2-Counter 24-tab-3-DO 22-tab-0-Interrupt; do
    [[ -s "$out/$dpi-dpi/$shot.png" ]] || fail "no screenshot $dpi-dpi/$shot"
  done
done

# --- The shipped 32-bit image under qemu-user, where the full run took the
# 64-bit build. qemu-user-static runs the i386 programs, handed to it by a
# binfmt_misc entry that the run registers (and removes at its end) unless
# one is there already: the i386 ELF magic and mask of qemu's own binfmt
# configuration, flag F (the emulator opened once, at registration). Wine's
# 32-bit programs start there in seconds with noreplace_preload.so, built
# here with "gcc -m32" against the 32-bit libc alone (see its source). qemu
# prints "uncaught target signal 11" as some processes end, also when all
# went well: the checks judge. At 96 dots per inch: the CPlApplet answers,
# the dialog through control.exe with the keyboard, every tab shot, OK
# storing the keys. A 32-bit Wine that does not start within its time
# limit leaves the 64-bit run alone, and the run says so.
run_qemu32() {
  local limit=${DIO_WINE_QEMU32_LIMIT:-150} entry
  if [[ ! -x /usr/bin/qemu-i386-static ]] || ! command -v gcc >/dev/null; then
    echo "no qemu-i386-static or gcc here: the shipped 32-bit image was not run; the 64-bit run stands alone"
    return
  fi
  if ! mountpoint -q /proc/sys/fs/binfmt_misc; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc && binfmt_mounted=1
  fi
  local have=
  for entry in /proc/sys/fs/binfmt_misc/*i386*; do [[ -f "$entry" ]] && grep -qsx enabled "$entry" && have=1; done
  if [[ -z "$have" ]]; then
    echo ':dio-qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      >/proc/sys/fs/binfmt_misc/register
    binfmt_entry=/proc/sys/fs/binfmt_misc/dio-qemu-i386
  fi
  timeout 20 wineserver -k 2>/dev/null || true
  build=$PWD/build/windows-applet
  out=$build/wine-test-qemu32
  applet_dir="$out/applet folder"
  rm -rf "$out"
  mkdir -p "$applet_dir"
  cp "$build/config/TesZEPDIOConfig.cpl" "$applet_dir/"
  cp "$build/tests/wine-applet/dialog_probe.exe" "$out/"
  # The 64-bit programs among them (the server) get an empty library of
  # their kind: ld.so puts each process's own library folder for $LIB.
  mkdir -p "$out/lib/i386-linux-gnu" "$out/lib/x86_64-linux-gnu"
  gcc -m32 -O2 -fPIC -shared -nostdlib -Wall -Werror -o "$out/lib/i386-linux-gnu/noreplace_preload.so" \
    tests/wine-applet/noreplace_preload.c /lib/i386-linux-gnu/libc.so.6
  gcc -shared -nostdlib -o "$out/lib/x86_64-linux-gnu/noreplace_preload.so" -x c /dev/null
  wine=/usr/lib/wine/wine
  unset WINELOADER
  export WINEARCH=win32 WINEPREFIX=$build/wineprefix-qemu32 LD_PRELOAD="$out/\$LIB/noreplace_preload.so"
  local began=$SECONDS fresh=
  [[ -f $WINEPREFIX/system.reg ]] || fresh=1
  # Without a 32-bit start the 64-bit run stands alone. A prefix this run
  # made goes, so that the next run makes it anew.
  qemu32_fallback() {
    timeout 20 wineserver -k 2>/dev/null || true
    [[ -n "$fresh" ]] && rm -rf "$WINEPREFIX"
    unset LD_PRELOAD
    echo "FALLBACK: $1 under qemu-user: the shipped 32-bit image was not run; the 64-bit run stands alone"
  }
  # What the run needs: a 32-bit Wine program that starts (a new prefix
  # made first) within the limit, and the prefix's setup ended.
  if ! { [[ -z "$fresh" ]] || timeout "$limit" "$wine" wineboot -i >"$out/wineboot.log" 2>&1; } ||
    ! applet_path=$(timeout $((limit - (SECONDS - began) > 10 ? limit - (SECONDS - began) : 10)) \
      "$wine" winepath -w "$applet_dir/TesZEPDIOConfig.cpl" 2>>"$out/wineboot.log" | tr -d '\r') ||
    [[ -z "$applet_path" ]]; then
    qemu32_fallback "a 32-bit Wine program did not start within $limit s"
    return
  fi
  if ! timeout 60 wineserver -w 2>/dev/null; then
    qemu32_fallback "32-bit Wine's setup of the prefix did not end within 60 s"
    return
  fi
  wineserver -p 2>/dev/null
  cp "$build/platform/diolib/TesZEPDIO.dll" "$WINEPREFIX/drive_c/windows/system32/"
  scale 96
  timeout 60 "$wine" reg delete "$service" /f >/dev/null 2>&1 || true
  timeout 60 "$wine" reg add "$service\\Device000" /v DeviceType /t REG_DWORD /d 24 /f >/dev/null
  probe cpl "$applet_path" >"$shots/cpl.txt" || fail "32-bit: the Control Panel's questions went unanswered"
  local want
  want=$'CPL_INIT 1\nCPL_GETCOUNT 1\nCPL_INQUIRE 0, record untouched\nCPL_NEWINQUIRE 0: dwSize 244 dwFlags 0 dwHelpContext 0 lData 0 icon yes help ""\nname "Tessaron ZEPDIO WDM driver"\ninfo "Configure the ZEP DIO hardware"\nCPL_STOP 0\nCPL_EXIT 0'
  [[ "$(cat "$shots/cpl.txt")" == "$want" ]] || fail "32-bit: CPlApplet answered otherwise (see $shots/cpl.txt)"
  timeout 60 "$wine" reg delete "$service" /f >/dev/null 2>&1 || true
  checks=geometry open_applet 24
  until_state focus "$title" 1000
  shot "24-tab-0-${tabs[0]}"
  for i in 1 2 3; do
    keys Right
    until_state tab "$title" "$i"
    shot "24-tab-$i-${tabs[$i]}"
  done
  keys Tab
  until_state focus "$title" 1022
  keys space
  until_state check "$title" 1022 1
  keys Tab Down
  until_state selection "$title" 1024 1
  keys Return
  closed
  expect DO DO_Trigger_Start 0x1
  expect DO DO_Channel_Start 0x1
  expect Counter TimeBase 0
  expect Interrupt DI0_Control Enable
  grep -qx 'DOSysConfig(1 0 1 0 1 1) = 0' "$shots/library-calls-24.log" ||
    fail "32-bit: the library did not receive the DO settings (see $shots/library-calls-24.log)"
  for i in 0 1 2 3; do [[ -s "$shots/24-tab-$i-${tabs[$i]}.png" ]] || fail "32-bit: no screenshot of tab $i"; done
  unset LD_PRELOAD
  qemu32_seconds=$((SECONDS - began))
  qemu32_done=1
}
qemu32_done= qemu32_seconds=0
full_seconds=$((SECONDS - started))
[[ -n "$full32" ]] || run_qemu32

if ((failures)); then exit 1; fi
echo "applet under Wine OK in $((SECONDS - started)) s ($([[ -n "$full32" ]] && echo "32-bit" || echo "64-bit") build):" \
  "installed as the README says and started from another folder; at 96 dots per inch model 24 with tabs" \
  "${tabs[*]} by the keyboard alone (arrows, Tab, Ctrl+Tab, Ctrl+PgDn, a mnemonic), model 22 with the" \
  "nine-channel Interrupt page by the mouse, keys checked; both again at 120, 144 and 192; at every scale every" \
  "page inside its tab control, every indicator drawn over its 8 x 8 units, every text inside its control," \
  "every accessible name and state as it should be ($full_seconds s)" \
  "$([[ -n "$qemu32_done" ]] && echo "; the shipped 32-bit image under qemu-user: CPlApplet's answers, the dialog by the keyboard through every tab, OK's keys ($qemu32_seconds s)")"
