#!/usr/bin/env bash
# Cross-builds the Windows programs with MinGW-w64 (everything but the Qt window and the simulated
# site: the libraries, quenta-upgrade.exe (the native window), quenta-upgrade-cli.exe and the
# tests), checks that they need no DLL beyond
# Windows' own, runs the Windows tests under wine, and compares quenta-upgrade-cli.exe with the Linux
# build against the Linux quenta-sim inside a private network namespace (scripts/windows-e2e.sh),
# drives the window under wine against that site (scripts/windows-gui-test.sh) and builds and checks
# the zip and the installer (scripts/package-windows.sh).
#
# Usage: bash scripts/build-windows.sh [build-folder] [native-build-folder]
#   build-folder         the Windows build (default build-windows)
#   native-build-folder  a Linux build that has or gets quenta-sim and quenta-upgrade-cli (default
#                        build-windows-native, configured without the window and the tests)
# Installs what it needs with apt-get when run as root (mingw-w64 posix-threads compiler, wine, the
# GoogleTest sources of Debian's googletest package, the header-only libraries, jq).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-windows}")
native=$(realpath -m "${2:-$root/build-windows-native}")
start=$(date +%s)
stamp() { echo "=== windows: $1 ($(($(date +%s) - start)) s)"; }
source "$root/scripts/lib.sh"

# The header-only JSON and command-line libraries serve both builds; libcrypto only the Linux quenta-sim;
# python3 the Windows resources; Xvfb, the CJK font, nsis and zip the window's tests and packages; jq
# the comparison of the two builds.
quenta_need_packages cmake ninja-build g++ g++-mingw-w64-x86-64-posix wine wine64 googletest python3 iproute2 \
    util-linux nlohmann-json3-dev libcli11-dev libssl-dev xvfb fonts-wqy-microhei nsis zip jq

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

stamp "cross-build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENTA_BUILD_GUI=OFF -DQUENTA_BUILD_SIM=OFF -DQUENTA_BUILD_BENCH=OFF \
    -DQUENTA_GTEST_SOURCE_DIR=/usr/src/googletest "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"

stamp "static executables: only Windows DLLs"
allowed='^(kernel32|msvcrt|ws2_32|user32|gdi32|advapi32|shell32|ole32|comctl32|comdlg32|iphlpapi)\.dll$'
for exe in "$build"/cli/*.exe "$build"/win32/*.exe "$build"/tests/*.exe; do
    while read -r dll; do
        if ! [[ "${dll,,}" =~ $allowed ]]; then
            echo "build-windows: $(basename "$exe") needs $dll" >&2
            exit 1
        fi
    done < <(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ { print $3 }')
done
echo "quenta-upgrade-cli.exe imports: $(x86_64-w64-mingw32-objdump -p "$build/cli/quenta-upgrade-cli.exe" |
    awk '/DLL Name:/ { printf "%s ", $3 }')"

stamp "Windows tests under wine"
# Unit and loopback tests only (the Linux-specific ones are not built for Windows): their own prefix,
# kept from one build to the next (no namespace here).
quenta_wine_prefix "$build/wineprefix"
status=0
(cd "$build" && ctest --output-on-failure -j"$(nproc)" --timeout 900) || status=$?
quenta_wine_end
unset WINEPREFIX
((status == 0)) || exit $status

stamp "Linux quenta-sim and quenta-upgrade-cli for the comparison"
if [[ ! -f "$native/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENTA_BUILD_GUI=OFF \
        -DQUENTA_BUILD_TESTS=OFF -DQUENTA_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
fi
cmake --build "$native" -j"$(nproc)" --target quenta-sim quenta-upgrade-cli

stamp "quenta-upgrade-cli.exe against the Linux site, compared with the Linux build"
bash "$root/scripts/windows-e2e.sh" "$native" "$build"

stamp "the Windows window under wine against the Linux site (Xvfb, private namespace)"
bash "$root/scripts/windows-gui-test.sh" "$native" "$build"

stamp "zip and installer; silent install, start and uninstall under wine"
bash "$root/scripts/package-windows.sh" "$build"
stamp "done"
