#!/usr/bin/env bash
# Builds everything and runs every test: the stand-ins', the driver's, the
# tool's and the applet's tests and the simulators under AddressSanitizer and
# UndefinedBehaviorSanitizer, the driver's stress tests again under
# ThreadSanitizer, the checks of the Windows driver and tool images, the
# driver packages (their INFs, signatures and catalogs, the catalogs read in
# Wine), the driver in Wine's kernel installed from them (worked by the tool
# too, and a second board refused), the applet's MSI in Wine's msiexec and
# Control Panel, the build of the
# benchmarks, a short fuzzing run of the device-control surface, and the real
# applet under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset host >/dev/null
cmake --build --preset host
# Every test has a time limit (a hang fails it).
ctest --preset host --show-only=json-v1 | python3 -c '
import json, sys
untimed = [t["name"] for t in json.load(sys.stdin)["tests"]
           if not any(p["name"] == "TIMEOUT" for p in t.get("properties", []))]
if untimed:
    sys.exit("tests without a time limit: " + ", ".join(untimed))'
ctest --preset host -j "$(nproc)" | tee build/host/ctest.log
ctest_count=$(grep -oE 'out of [0-9]+' build/host/ctest.log | tail -n 1 | grep -oE '[0-9]+')
cmake --preset tsan >/dev/null
cmake --build --preset tsan --target stress_tests
ctest --preset tsan | tee build/tsan/ctest.log
tsan_count=$(grep -oE 'out of [0-9]+' build/tsan/ctest.log | tail -n 1 | grep -oE '[0-9]+')
ctest_count=$((ctest_count + tsan_count))
cmake --preset windows-driver >/dev/null
cmake --build --preset windows-driver
tools/check-driver-image.sh build/windows-driver/driver/TesZEPDIO.sys
tools/check-tool-image.sh build/windows-driver/tool/dioctl.exe
tools/package.sh
tools/check-version.sh --inf build/package/TesZEPDIO/TesZEPDIO.inf build/package/TesZEPDIO/TesZEPDIO.sys \
  build/windows-driver/tool/dioctl.exe
tools/check-version.sh --inf build/package/TesZEPDIOLatched/TesZEPDIOLatched.inf build/package/TesZEPDIOLatched/TesZEPDIO.sys
tools/check-version.sh --inf build/package/TesZEPDIOApplet/TesZEPDIOApplet.inf build/windows-applet/config/TesZEPDIOConfig.cpl
tools/check-package-symbols.sh build/package build/windows-driver/tool/dioctl.exe
tools/check-package.sh build/package
tools/wine-kernel-test.sh build/package
tools/wine-msi-test.sh build/package
cmake --preset bench >/dev/null
cmake --build --preset bench  # built, not run: docs/performance.md
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target devctl_fuzz
build/fuzz/fuzz/devctl_fuzz -max_total_time=60 -print_final_stats=1 2>&1 | tail -n 12
tools/wine-applet-test.sh
echo "tests: ${ctest_count} passed, 0 failed"
