#!/usr/bin/env bash
# Installs the Debian packages the build needs, only those that are missing; further
# package names given as arguments are installed the same way.
set -euo pipefail
packages=(g++ cmake ninja-build make libeigen3-dev libgtest-dev "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update
  $SUDO apt-get install -y "${missing[@]}"
fi
