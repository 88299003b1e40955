#!/usr/bin/env bash
# Benchmarks of the Windows window under wine against the Linux quenta-sim inside a private network
# namespace (sim/netns-run), with a fresh WINEPREFIX made inside it and `wineserver -k` at the end;
# wine draws on an Xvfb started outside. Prints each figure, its goal and the ratio:
#   listing 700 devices: quenta-upgrade-cli.exe's query, then the window's (win32_window_bench.exe),
#   against the same site in the same run: window-query-time / CLI-query-time (goal <= 1.2; the
#   CLI's time is its whole process, wine's start included) and the window's longest stall while
#   the rows arrive (goal < 100 ms);
#   then the batch upgrade of 40 devices over 100 Mbit/s links by quenta-upgrade-cli and by
#   quenta-upgrade-cli.exe under wine, each against its floor (site_bench --wine-cli, goal <= 1.10).
#
# Usage: windows-bench.sh NATIVE-BUILD WINDOWS-BUILD
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib.sh"

if [[ "${1:-}" != --inner ]]; then
    if (($# != 2)); then
        sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//' >&2
        exit 2
    fi
    native=$(cd "$1" && pwd)
    windows=$(cd "$2" && pwd)
    work=$(mktemp -d "${TMPDIR:-/tmp}/quenta-windows-bench.XXXXXX")
    "$native/sim/quenta-sim" --make-demo-packages "$work/packages" >/dev/null
    # 700 devices over the three documentation prefixes, listed by the address box 50 a datagram.
    cat >"$work/site.json" <<'JSON'
{
  "defaults": {"model": "QN-H200", "platform": "hi3516a", "hardVersion": "HW-1.0",
               "kernelVersion": "3.10.108", "softVersion": "2.3.9", "master": 1},
  "addressBox": {"ip": "192.0.2.2", "model": "QN-AB100", "platform": "A20", "serialNum": "QNT0AB10001",
                 "softVersion": "1.8.0", "maxAddressesPerDatagram": 50},
  "devices": [
    {"ip": "192.0.2.10", "count": 240, "serialNum": "QNT2H2A{n}"},
    {"ip": "198.51.100.2", "count": 240, "serialNum": "QNT2H2B{n}"},
    {"ip": "203.0.113.2", "count": 220, "serialNum": "QNT2H2C{n}"}
  ]
}
JSON
    quenta_start_xvfb 90 120 1920x1080
    status=0
    "$root/sim/netns-run" --addresses 710 -- bash "$0" --inner "$native" "$windows" "$work" || status=$?
    quenta_stop_xvfb
    # site_bench makes its own namespace with shaped links, and wine's prefix and server inside it.
    "$native/bench/site_bench" --cli "$native/cli/quenta-upgrade-cli" \
        --wine-cli "$windows/cli/quenta-upgrade-cli.exe" || status=$?
    if ((status == 0)); then rm -rf "$work"; else echo "windows-bench: FAILED (files kept in $work)" >&2; fi
    exit $status
fi

# ---- inside the namespace ----
native=$2
windows=$3
work=$4
quenta_require_private_netns
export LC_ALL=C.UTF-8
trap 'quenta_stop_site; quenta_wine_end' EXIT
quenta_wine_prefix "$work/wineprefix"
for face in 宋体 SimSun "MS Shell Dlg" "MS Shell Dlg 2" Tahoma; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /t REG_SZ /d "WenQuanYi Micro Hei" /f \
        >/dev/null 2>&1
done
# Xvfb runs no window manager: wine would wait 2 s for one whenever a managed window (the progress
# box) is hidden or destroyed, a stall no desktop has. Unmanaged windows are placed by wine itself.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
package=$(windows_path "$work/packages/QN通用升级包-2.4.1.quenta")
unset QUENTA_DRIVE_ROOT
now() { date +%s.%N; }

quenta_start_site "$work/site.log" "$native/sim/quenta-sim" --config "$work/site.json" --record "$work/record.json"
wine "$windows/cli/quenta-upgrade-cli.exe" --version >/dev/null 2>&1 || true  # wineserver up
start=$(now)
wine "$windows/cli/quenta-upgrade-cli.exe" query --package "$package" --address-box 192.0.2.2 --format json \
    --quiet 2>/dev/null | tr -d '\r' >"$work/cli.json" || true
cli_s=$(echo "$(now) - $start" | bc -l)
cli_rows=$(jq length "$work/cli.json")
quenta_stop_site

quenta_start_site "$work/site2.log" "$native/sim/quenta-sim" --config "$work/site.json" --record "$work/record2.json"
wine "$windows/win32/win32_window_bench.exe" "$package" 192.0.2.2 2>/dev/null | tr -d '\r' | tee "$work/window.txt"
window_s=$(awk '/^window-query-s/ { print $2 }' "$work/window.txt")
window_rows=$(awk '/^window-rows/ { print $2 }' "$work/window.txt")
stall=$(awk '/^window-stall-ms/ { print $2 }' "$work/window.txt")
printf 'CLI query: %d rows in %.2f s (whole process under wine)\n' "$cli_rows" "$cli_s"
printf 'window-query-time / CLI-query-time = %.2f (goal <= 1.2); longest stall %s ms (goal < 100 ms)\n' \
    "$(echo "$window_s / $cli_s" | bc -l)" "$stall"
[[ "$cli_rows" == "$window_rows" ]] || echo "windows-bench: the CLI listed $cli_rows rows, the window $window_rows" >&2
