#!/usr/bin/env bash
# Installs what the Wine tests need on a Debian machine (as root): 32-bit
# Wine, a virtual X server, a tool that acts as the user, and ImageMagick for
# the screenshots (the applet's test); 64-bit Wine (the driver's test).
set -euo pipefail

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  apt-get update
fi
packages=(wine wine32:i386 wine64 xvfb xdotool imagemagick x11-utils)
"$(dirname "$0")/apt-install.sh" "${packages[@]}"
