#!/usr/bin/env bash
# Packs the Windows programs of a cross build (scripts/build-windows.sh) into
#   quenta-upgrade-<version>-win64.zip    both executables, the operator's guide (说明.txt), the
#                                         licence and the third-party notices
#   quenta-upgrade-<version>-setup.exe    an NSIS installer (Unicode, Simplified Chinese pages, the
#                                         licence page, Start-menu shortcuts, the programs' inbound
#                                         firewall rule, uninstaller with its Add/Remove Programs
#                                         entry; packaging/windows/quenta-upgrade.nsi)
# in the build folder, then checks the installer under wine: a silent install (/S), the installed
# window program starts, the silent uninstaller removes it. The check runs inside a private network
# namespace (sim/netns-run) with a fresh WINEPREFIX and an Xvfb display, ending with `wineserver -k`.
#
# Usage: bash scripts/package-windows.sh [build-folder]     (default build-windows)
#        --no-check   build the packages only
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib.sh"
check=1
args=()
for a in "$@"; do
    if [[ "$a" == --no-check ]]; then check=0; else args+=("$a"); fi
done

if [[ "${args[0]:-}" == --inner ]]; then
    # ---- inside the namespace: install, start, uninstall ----
    setup=${args[1]}
    work=${args[2]}
    quenta_require_private_netns
    trap quenta_wine_end EXIT
    quenta_wine_prefix "$work/wineprefix"
    target="$WINEPREFIX/drive_c/Program Files/quenta-upgrade"
    key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\quenta-upgrade'
    wine "$setup" /S
    for f in quenta-upgrade.exe quenta-upgrade-cli.exe 说明.txt LICENSE.txt THIRD-PARTY-NOTICES.txt uninstall.exe; do
        [[ -f "$target/$f" ]] || { echo "package-windows: $f not installed" >&2; exit 1; }
    done
    [[ -f "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/产品升级工具/产品升级工具.lnk" ]] ||
        { echo "package-windows: no Start-menu shortcut" >&2; exit 1; }
    wine reg query "$key" /v UninstallString >/dev/null 2>&1 ||
        { echo "package-windows: no Add/Remove Programs entry" >&2; exit 1; }
    echo "installed: $(ls "$target" | tr '\n' ' ')"
    # The installed window program starts and stays up (the window waits for the operator).
    wine "$target/quenta-upgrade.exe" &
    program=$!
    sleep 5
    if ! kill -0 "$program" 2>/dev/null; then
        echo "package-windows: the installed quenta-upgrade.exe did not stay up" >&2
        exit 1
    fi
    wine "$target/quenta-upgrade-cli.exe" inspect --help >/dev/null
    quenta_wine_end
    wait "$program" 2>/dev/null || true
    # The uninstaller copies itself away and runs on: wait for the folder to go.
    wine "$target/uninstall.exe" /S
    for _ in $(seq 100); do [[ -e "$target" ]] || break; sleep 0.2; done
    if [[ -e "$target" ]] || wine reg query "$key" >/dev/null 2>&1; then
        echo "package-windows: the uninstaller left the program or its entry behind" >&2
        exit 1
    fi
    echo "uninstalled: folder and Add/Remove Programs entry removed"
    exit 0
fi

build=$(realpath -m "${args[0]:-$root/build-windows}")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[[ -n "$version" ]] || { echo "package-windows: $build is not a configured build" >&2; exit 1; }
for f in win32/quenta-upgrade.exe cli/quenta-upgrade-cli.exe win32/res/icon128.ico; do
    [[ -f "$build/$f" ]] || { echo "package-windows: $build/$f missing (build it first)" >&2; exit 1; }
done
for tool in makensis zip x86_64-w64-mingw32-strip; do
    command -v "$tool" >/dev/null || { echo "package-windows: $tool missing (apt-get install nsis zip)" >&2; exit 1; }
done

stage="$build/package-stage"
rm -rf "$stage"
mkdir -p "$stage"
x86_64-w64-mingw32-strip -o "$stage/quenta-upgrade.exe" "$build/win32/quenta-upgrade.exe"
x86_64-w64-mingw32-strip -o "$stage/quenta-upgrade-cli.exe" "$build/cli/quenta-upgrade-cli.exe"
cp "$root/packaging/windows/说明.txt" "$stage/"
cp "$build/win32/res/icon128.ico" "$stage/quenta-upgrade.ico"
# Windows' own line ends for the texts a technician opens in Notepad.
sed 's/\r*$/\r/' "$root/LICENSE" >"$stage/LICENSE.txt"
sed 's/\r*$/\r/' "$root/THIRD-PARTY-NOTICES" >"$stage/THIRD-PARTY-NOTICES.txt"

# The installer adds the firewall rule for both programs on private and domain networks and the
# uninstaller removes it (wine's netsh has no firewall, so the script itself is checked).
nsi="$root/packaging/windows/quenta-upgrade.nsi"
for program in quenta-upgrade.exe quenta-upgrade-cli.exe; do
    grep -qF 'firewall add rule name="${FIREWALL_RULE}" dir=in action=allow program="$INSTDIR\'"$program"'" enable=yes profile=private,domain' "$nsi" ||
        { echo "package-windows: the installer adds no firewall rule for $program" >&2; exit 1; }
done
[[ $(grep -c 'firewall delete rule name="${FIREWALL_RULE}"' "$nsi") -ge 2 ]] ||
    { echo "package-windows: the uninstaller does not remove the firewall rule" >&2; exit 1; }

zip_file="$build/quenta-upgrade-$version-win64.zip"
rm -f "$zip_file"
(cd "$stage" && zip -q -X "$zip_file" quenta-upgrade.exe quenta-upgrade-cli.exe 说明.txt LICENSE.txt THIRD-PARTY-NOTICES.txt)
setup="$build/quenta-upgrade-$version-setup.exe"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSTAGE="$stage" -DOUT_FILE="$setup" \
    "$root/packaging/windows/quenta-upgrade.nsi"
echo "$(basename "$zip_file"): $(stat -c %s "$zip_file") bytes"
echo "$(basename "$setup"): $(stat -c %s "$setup") bytes"
((check)) || exit 0

work=$(mktemp -d "${TMPDIR:-/tmp}/quenta-package-check.XXXXXX")
quenta_start_xvfb 121 150
status=0
"$root/sim/netns-run" --addresses 0 -- bash "$0" --inner "$setup" "$work" || status=$?
quenta_stop_xvfb
if ((status == 0)); then rm -rf "$work"; else echo "package-windows: check FAILED (files in $work)" >&2; fi
exit $status
