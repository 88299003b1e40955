#!/usr/bin/env bash
# Runs the Windows window's test program (tests/win32_quenta_upgradeDlg_test.exe) under wine against
# the Linux quenta-sim inside a private network namespace (sim/netns-run), with a fresh WINEPREFIX
# made inside it (so its wineserver, which creates every socket of the wine processes, lives there)
# and `wineserver -k` at the end. Wine draws on an Xvfb started outside the namespace (reached through
# /tmp/.X11-unix); Chinese needs a CJK font (fonts-wqy-microhei). The whole suite runs on a
# 1366 x 768 screen at 96 DPI; then the fit cases (Win32Fit.*, the layout) run on 1366 x 768 and
# 1920 x 1080 screens with wine's DPI (LogPixels) at 96, 120 and 144, one namespace and prefix per
# screen. With --screenshots DIR the window after a query and during an upgrade are written as
# DIR/screenshot-win32-{query,upgrade}.png, the status line during a run on a 700-device site as
# DIR/screenshot-win32-status-{line,filter}.png, and the fitted window at 1366 x 768 / 96 DPI and
# 1920 x 1080 / 144 DPI as DIR/screenshot-win32-fit-WxH-DPI.png (converted by ImageMagick, which it
# installs when run as root). QUENTA_FIT_ONLY=1 runs the fit cases only.
#
# Usage: windows-gui-test.sh NATIVE-BUILD WINDOWS-BUILD [--screenshots DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib.sh"

if [[ "${1:-}" != --inner && "${1:-}" != --fit ]]; then
    if (($# != 2 && $# != 4)); then
        sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//' >&2
        exit 2
    fi
    native=$(cd "$1" && pwd)
    windows=$(cd "$2" && pwd)
    shots=""
    needed=(jq)
    (($# == 4)) && needed+=(imagemagick)
    quenta_need_packages "${needed[@]}"
    if (($# == 4)); then
        mkdir -p "$4"
        shots=$(cd "$4" && pwd)
    fi
    work=$(mktemp -d "${TMPDIR:-/tmp}/quenta-windows-gui.XXXXXX")
    "$native/sim/quenta-sim" --make-demo-packages "$work/packages" >/dev/null
    # A small site: the demo's address box, its first two groups of clean devices and one
    # up-to-date device that refuses every put (unticked by the version rule: retry and reasons).
    jq '.addressBox |= del(.phantoms)
        | .devices = [.devices[] | select((.faults // {}) == {})][:2] + [{
            ip: "192.0.2.30", model: "QN-H200", platform: "hi3516a", serialNum: "QNT2H2F0001",
            softVersion: "2.4.1", faults: {tcpErrorText: "存储空间不足"}}]' \
        "$root/sim/demo/site.json" >"$work/site.json"
    # The status line's site: 700 devices (690 older ones, 10 that refuse the put), the same box.
    jq '.addressBox |= del(.phantoms)
        | .devices = [
            {ip: "192.0.2.10", count: 690, model: "QN-H200", platform: "hi3516a", serialNum: "QNT2H3{n}",
             softVersion: "2.3.9"},
            {ip: "203.0.113.194", count: 10, model: "QN-H200", platform: "hi3516a", serialNum: "QNT2H4{n}",
             softVersion: "2.3.9", faults: {tcpErrorText: "存储空间不足"}}]' \
        "$root/sim/demo/site.json" >"$work/site700.json"
    status=0
    if [[ -z "${QUENTA_FIT_ONLY:-}" ]]; then
        addresses=20
        [[ -n "$shots" ]] && addresses=759
        quenta_start_xvfb 90 120 1366x768
        "$root/sim/netns-run" --addresses "$addresses" -- bash "$0" --inner "$native" "$windows" "$work" "$shots" ||
            status=$?
        quenta_stop_xvfb
    fi
    own_display=${DISPLAY:-}
    for screen in 1366x768 1920x1080; do
        unset DISPLAY
        quenta_start_xvfb 90 120 "$screen"
        "$root/sim/netns-run" -- bash "$0" --fit "$native" "$windows" "$work" "$shots" "$screen" || status=$?
        quenta_stop_xvfb
    done
    [[ -z "$own_display" ]] || export DISPLAY=$own_display
    if ((status == 0)); then
        rm -rf "$work"
    else
        echo "windows-gui-test: FAILED (files kept in $work)" >&2
    fi
    exit $status
fi

# ---- inside the namespace ----
mode=$1
native=$2
windows=$3
work=$4
shots=$5
quenta_require_private_netns

export LC_ALL=C.UTF-8
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
# A fresh prefix whose dialog fonts ("宋体", "MS Shell Dlg": not in a fresh prefix) are the CJK font.
new_prefix() {
    quenta_wine_prefix "$1"
    local face
    for face in 宋体 SimSun "MS Shell Dlg" "MS Shell Dlg 2" Tahoma; do
        wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ /d "WenQuanYi Micro Hei" /f \
            >/dev/null 2>&1
    done
}
export QUENTA_TEST_WINE_GUI=1 QUENTA_TEST_PACKAGE WINEPATH
QUENTA_TEST_PACKAGE=$(windows_path "$work/packages/QN通用升级包-2.4.1.quenta")
WINEPATH=$(windows_path "$windows")
unset QUENTA_DRIVE_ROOT

if [[ "$mode" == --fit ]]; then
    screen=$6
    trap 'quenta_wine_end' EXIT
    new_prefix "$work/wineprefix-fit-$screen"
    mkdir -p "$work/shots"
    export QUENTA_TEST_SCREENSHOTS QUENTA_TEST_FIT_SHOT
    QUENTA_TEST_SCREENSHOTS=$(windows_path "$work/shots")
    status=0
    for dpi in 96 120 144; do
        echo "--- $screen at $dpi DPI"
        for key in 'HKCU\Control Panel\Desktop' 'HKCC\Software\Fonts'; do
            wine reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
        done
        wineserver -w  # the setting is read when the next program starts
        QUENTA_TEST_FIT_SHOT=""
        [[ "$screen/$dpi" == 1366x768/96 || "$screen/$dpi" == 1920x1080/144 ]] && QUENTA_TEST_FIT_SHOT="fit-$screen-$dpi"
        set +e
        wine "$windows/tests/win32_quenta_upgradeDlg_test.exe" \
            --gtest_filter='Win32Fit.*:Win32Window.LayoutControlsAndInitialStates:Win32Window.LockedCheck*' 2>&1 |
            tr -d '\r'
        ((PIPESTATUS[0] == 0)) || status=1
        set -e
        if [[ -n "$shots" && -n "$QUENTA_TEST_FIT_SHOT" && -f "$work/shots/$QUENTA_TEST_FIT_SHOT.bmp" ]]; then
            /usr/bin/convert "$work/shots/$QUENTA_TEST_FIT_SHOT.bmp" "$shots/screenshot-win32-${QUENTA_TEST_FIT_SHOT}dpi.png"
        fi
    done
    exit $status
fi

trap 'quenta_stop_site; quenta_wine_end' EXIT
new_prefix "$work/wineprefix"
quenta_start_site "$work/site.log" "$native/sim/quenta-sim" --config "$work/site.json" --record "$work/record.json"

mkdir -p "$work/shots"
export QUENTA_TEST_ADDRESS_BOX=192.0.2.2 QUENTA_TEST_SCREENSHOTS
QUENTA_TEST_SCREENSHOTS=$(windows_path "$work/shots")
# No QUENTA_DRIVE_ROOT (unset above): it would map the package's own Z: path too; the fresh
# prefix's C: is the run's own drive anyway.
set +e
wine "$windows/tests/win32_quenta_upgradeDlg_test.exe" ${QUENTA_GTEST_FILTER:+--gtest_filter="$QUENTA_GTEST_FILTER"} 2>&1 | tr -d '\r'
status=${PIPESTATUS[0]}
set -e
if [[ -n "$shots" ]]; then
    quenta_stop_site
    quenta_start_site "$work/site700.log" "$native/sim/quenta-sim" --config "$work/site700.json" \
        --record "$work/record700.json"
    QUENTA_TEST_SITE_700=1 wine "$windows/tests/win32_quenta_upgradeDlg_test.exe" \
        --gtest_filter=Win32Window.StatusLineOn700DeviceSite 2>&1 | tr -d '\r' || status=1
    for name in query upgrade status-line status-filter; do
        if [[ -f "$work/shots/$name.bmp" ]]; then
            /usr/bin/convert "$work/shots/$name.bmp" "$shots/screenshot-win32-$name.png"
        fi
    done
fi
exit $status
