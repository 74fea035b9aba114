#!/usr/bin/env bash
# Installs what the builds and tests need on a Debian machine (as root).
set -euo pipefail

packages=(
  cmake ninja-build g++ googletest            # host build and tests
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64  # the Windows driver
  clang lld llvm                               # the shipped images and their PDBs (llvm-pdbutil, llvm-objcopy)
  g++-mingw-w64-i686 binutils-mingw-w64-i686  # the applet, and its resources on the host
  python3                                      # draws the applet's icon and bitmaps
  python3-asn1crypto osslsigncode gcab         # the driver packages: their catalogs, signatures and CABs
  wixl msitools                                # the applet's MSI (wixl builds it, msiinfo reads it)
  libclang-rt-14-dev                           # the fuzz target (libFuzzer)
  libbenchmark-dev                             # the benchmarks of the driver's cost
)

"$(dirname "$0")/apt-install.sh" "${packages[@]}"
