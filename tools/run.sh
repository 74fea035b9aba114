#!/usr/bin/env bash
# Builds everything, then runs the simulator: the driver on a default board.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset host >/dev/null
cmake --build --preset host
cmake --preset windows-driver >/dev/null
cmake --build --preset windows-driver
exec build/host/sim/dio_sim "$@"
