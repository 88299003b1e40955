#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need (as root, with apt-get).
# Without root it only checks and names what is missing.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
quenta_need_packages cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev qt6-base-dev \
    nlohmann-json3-dev libssl-dev libcli11-dev qt6-translations-l10n \
    fonts-wqy-microhei xvfb xauth x11-apps iproute2 util-linux jq \
    dpkg-dev file help2man
