#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need (as root, with apt-get).
# Without root it only checks and names what is missing.
set -euo pipefail
packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev nlohmann-json3-dev qt6-base-dev
          fonts-wqy-microhei xvfb xauth x11-apps iproute2 util-linux)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -eq 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "Missing packages (run as root or install them): ${missing[*]}" >&2
  exit 1
fi
