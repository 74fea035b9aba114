#!/usr/bin/env bash
# Runs the real driver image in Wine's kernel: the driver packages as
# tools/package.sh makes them (or those in the folder given as the argument),
# each model installed from its package's shipped INF (the PCI boards'
# TesZEPDIO.inf, the latched boards' TesZEPDIOLatched.inf) as a
# root-enumerated device of its hardware ID in a fresh 64-bit Wine prefix,
# the model read from the device's own key, and worked by a Windows program
# through the Win32 API only, and by the command-line tool dioctl.exe as that
# build makes it, for board models 24, 22 and 0; in the run of model 24 a
# board of model 22 is installed beside it, whose start the driver refuses
# (wine-kernel/test/kernel_test.cpp says what is checked). A
# test-only helper driver in the same winedevice process gives the driver
# what Wine does not: a board on the ports that interrupts, a restart with
# the board's resources, the cleanup request before each close, interrupts,
# DPCs, device power requests and user-mode handle lookups in place of
# Wine's stubs and refusals (in the driver image's imports only), and the
# system's power transitions (docs/wine-kernel.md).
#
# A model fails when a check fails, when the program does not end, or when
# the Wine log reports an unhandled exception or an unimplemented function.
# Each model runs in its own copy of the fresh prefix. Logs go to
# build/wine-kernel-test/run/model-N/ (checks.log: the program's checks;
# wine.log: what Wine wrote).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/wine-boot.sh
tools/install-deps.sh >/dev/null
tools/install-wine.sh >/dev/null
cmake --preset windows-driver >/dev/null
cmake --build --preset windows-driver >/dev/null
if [[ -z "${1:-}" ]]; then tools/package.sh >/dev/null; fi
cmake --preset wine-kernel-test >/dev/null
cmake --build --preset wine-kernel-test >/dev/null

packages=$(realpath "${1:-build/package}")
models=$packages/models.txt
image=$(find "$packages" -mindepth 2 -maxdepth 2 -name TesZEPDIO.sys | sort | head -n 1)
tool=$PWD/build/windows-driver/tool/dioctl.exe
build=$PWD/build/wine-kernel-test
programs=$build/wine-kernel/test
helper=$build/wine-kernel/helper/TesZEPDIOWineHelper.sys
out=$build/run
rm -rf "$out"
mkdir -p "$out"

wine64=/usr/lib/wine/wine64  # the wine64 package's loader; the driver needs a 64-bit prefix
export WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

base=$out/prefix
WINEPREFIX=$base WINEDEBUG=-all wine_boot "$wine64" "$out/wineboot.log" ||
  { echo "FAIL: wineboot did not finish (see $out/wineboot.log)"; exit 1; }

# Functions Wine's kernel has only as stubs that end the process. The image
# may import them only where the helper puts its own routine in their place
# (wine-kernel/helper/imports.cpp), or where the test never leads
# (KeRemoveEntryDeviceQueue: the cancel of a port request held while the
# device is stopped; docs/wine-kernel.md).
substituted="IoConnectInterrupt IoDisconnectInterrupt KeSynchronizeExecution PoRequestPowerIrp IoWriteErrorLogEntry"
avoided="KeRemoveEntryDeviceQueue"
stubs=$(x86_64-w64-mingw32-nm "$base/drive_c/windows/system32/ntoskrnl.exe" |
        sed -n 's/.* __wine_stub_//p' | sort)
imports=$(x86_64-w64-mingw32-objdump -p "$image" | sed -n '/DLL Name:/,/^$/p' |
          awk 'NF == 3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ {print $3}' | sort)
unreplaced=$(comm -12 <(echo "$stubs") <(echo "$imports") | comm -23 - <(tr ' ' '\n' <<<"$substituted $avoided" | sort) |
             tr '\n' ' ' | sed 's/ $//')
if [[ -n "$unreplaced" ]]; then
  fail "the image imports \"$unreplaced\", which Wine's kernel only stubs, the helper does not replace and the test does not avoid"
fi

for model in 24 22 0; do
  dir=$out/model-$model
  prefix=$dir/prefix
  mkdir -p "$dir/files" "$prefix"
  hardware_id='' package=''
  read -r hardware_id package < <(awk -v model="$model" '$1 == model {print $2, $3}' "$models") || true
  [[ -n "${package:-}" ]] || { fail "model $model is not in the packages ($models)"; continue; }
  second=()
  if ((model == 24)); then
    second=(--second-model 22 --second-hardware-id "$(awk '$1 == 22 {print $2}' "$models")")
  fi
  cp "$packages/$package"/* "$dir/files/"
  cp "$tool" "$dir/files/dioctl.exe"
  cp "$programs/kernel_test.exe" "$helper" "$dir/files/"
  # Wine's files are shared with the fresh prefix (never written in place);
  # the registry, which wineserver rewrites in place, is copied.
  cp -al "$base/drive_c" "$prefix/"
  cp -a "$base/dosdevices" "$base"/*.reg "$base/.update-timestamp" "$prefix/"

  start=$(date +%s%N)
  status=0
  WINEPREFIX=$prefix WINEDEBUG=err+all,fixme+all timeout 120 \
    "$wine64" "$dir/files/kernel_test.exe" --model "$model" --hardware-id "$hardware_id" --inf "$package.inf" "${second[@]}" \
    >"$dir/checks.log" 2>"$dir/wine.log" ||
    status=$?
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  WINEPREFIX=$prefix wineserver -w
  seconds=$(( ($(date +%s%N) - start) / 1000000 ))
  seconds="$((seconds / 1000)).$(printf %03d $((seconds % 1000)))"

  checks=$(grep -cE 's (ok|FAIL): ' "$dir/checks.log" || true)
  crashes=$(grep -E 'wine: Unhandled|Unhandled exception|unimplemented function' "$dir/wine.log" || true)
  if ((status != 0)) || [[ -n "$crashes" ]]; then
    fail "model $model: exit status $status after ${seconds} s; logs in $dir"
    grep -E 'FAIL|^ *[0-9.]+s +[0-9]+ +got ' "$dir/checks.log" | head -n 40 || true
    [[ -n "$crashes" ]] && echo "Wine log: $crashes"
  else
    echo "model $model: $checks checks passed in ${seconds} s, Wine log clean"
    rm -rf "$prefix"
  fi
done

if ((failures)); then exit 1; fi
rm -rf "$base"
echo "Wine kernel test OK: $packages, models 24 (with a second board of model 22), 22 and 0"
