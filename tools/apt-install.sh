#!/usr/bin/env bash
# Installs the named Debian packages that are not installed yet (as root).
set -euo pipefail
missing=()
for p in "$@"; do
  grep -q "install ok installed" <<<"$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" || missing+=("$p")
done
if ((${#missing[@]})); then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi
