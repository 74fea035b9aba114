#!/usr/bin/env bash
# Installs what the Wine tests need on a Debian machine (as root): 32-bit
# Wine, a virtual X server, a tool that acts as the user, and ImageMagick for
# the screenshots (the applet's test); 64-bit Wine (the driver's test, and
# the applet's where the kernel runs no 32-bit programs). The fonts are part
# of it: Wine's own (fonts-wine: Tahoma and the MS Sans Serif bitmap font,
# close to Windows' dialog fonts) and the Liberation fonts an ordinary
# install of Wine brings along, so that the applet's dialog is laid out
# alike on a bare machine and on one that has them already. qemu-user-static
# runs 32-bit Wine where the kernel runs no 32-bit programs (the shipped
# 32-bit applet's run).
set -euo pipefail

if ! grep -qx i386 <<<"$(dpkg --print-foreign-architectures)"; then
  dpkg --add-architecture i386
  apt-get update
fi
packages=(wine wine32:i386 wine64 fonts-wine fonts-liberation xvfb xdotool imagemagick x11-utils qemu-user-static
  libc6-i386)
"$(dirname "$0")/apt-install.sh" "${packages[@]}"
