#!/usr/bin/env bash
# The newcomer's demo: installs what is needed, builds, makes the demo packages and starts the demo
# site (quenta-sim with sim/demo/site.json) and the window together inside one private network
# namespace (sim/netns-run), on your display. Where there is no usable display it runs the same batch
# through quenta-upgrade-cli and prints the device list.
#
# Usage: bash scripts/demo.sh [--headless] [--screenshot] [build-folder]
#   --headless    use quenta-upgrade-cli even when a display is there
#   --screenshot  also run the window test's query under Xvfb-free offscreen rendering and copy its
#                 screenshot to docs/screenshot-query.png (and the status line on a 700-device site to
#                 docs/screenshot-status-{line,filter}.png)
# All traffic stays inside the private namespace (documentation addresses on lo); the demo's files
# (packages, drive root, site record) go to a temporary folder that is printed at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
headless=0
screenshot=0
build=""
for arg in "$@"; do
    case "$arg" in
    --headless) headless=1 ;;
    --screenshot) screenshot=1 ;;
    -h | --help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "demo.sh: unknown option $arg" >&2; exit 2 ;;
    *) build=$arg ;;
    esac
done
build=${build:-$root/build}

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=(quenta-sim quenta-upgrade-cli quenta-upgrade)
((screenshot)) && targets+=(gui_quenta_upgradeDlg_test)
cmake --build "$build" --target "${targets[@]}" -j"$(nproc)"

work=$(mktemp -d "${TMPDIR:-/tmp}/quenta-demo.XXXXXX")
export QUENTA_DRIVE_ROOT="$work/drives"
mkdir -p "$QUENTA_DRIVE_ROOT"
"$build/sim/quenta-sim" --make-demo-packages "$work/packages" >/dev/null
general="$work/packages/QN通用升级包-2.4.1.quenta"
address_box=192.0.2.2

# The window needs an X server it can reach from inside the namespace: only the file-system socket
# in /tmp/.X11-unix is shared (a TCP display such as ssh's localhost:10 is not).
display_ok=0
if ((headless == 0)) && [[ "${DISPLAY:-}" =~ ^:([0-9]+)(\.[0-9]+)?$ ]] && [ -S "/tmp/.X11-unix/X${BASH_REMATCH[1]}" ]; then
    display_ok=1
fi

# Runs inside the namespace: the site in the background, then the front end once the site answers;
# the site stops after.
inner=$(cat <<'INNER'
set -euo pipefail
source "$QUENTA_DEMO_ROOT/scripts/lib.sh"
trap quenta_stop_site EXIT
quenta_start_site "$QUENTA_DEMO_WORK/site.log" "$QUENTA_DEMO_BUILD/sim/quenta-sim" \
    --config "$QUENTA_DEMO_ROOT/sim/demo/site.json" --record "$QUENTA_DEMO_WORK/site-record.json"
"$@"
INNER
)
export QUENTA_DEMO_BUILD="$build" QUENTA_DEMO_ROOT="$root" QUENTA_DEMO_WORK="$work"

if ((display_ok)); then
    cat <<TEXT

The window opens on your display ($DISPLAY), with a simulated site of 44 devices behind it.
  1. 浏览: pick the demo package
       $general
  2. Keep the model boxes ticked, type the address box IP  $address_box  and press " 获取设备列表".
  3. Answer the prompt (是 upgrades the older devices at once) or press 升级; wait for 升级完成！
  Other packages in $work/packages: the A20 multimedia control box package (type the same address
  box IP) and the address box package.  Close the window to end the demo.

TEXT
    "$root/sim/netns-run" --addresses 100 -- bash -c "$inner" demo "$build/app/quenta-upgrade"
else
    echo
    echo "No local display: the same batch through quenta-upgrade-cli (package $(basename "$general"),"
    echo "address box $address_box)."
    echo
    # Exit status 2 means some device ended 升级失败: the demo site has faulty devices on purpose.
    status=0
    "$root/sim/netns-run" --addresses 100 -- bash -c "$inner" demo \
        "$build/cli/quenta-upgrade-cli" upgrade --package "$general" --address-box "$address_box" || status=$?
    if ((status == 2)); then
        echo "The failed rows are the demo site's faulty devices; each row says why."
    elif ((status != 0)); then
        exit "$status"
    fi
fi

if ((screenshot)); then
    # A 1920 x 1080 offscreen screen: on the plugin's own 800 x 600 one the window shrinks to fit.
    (cd "$work" && QT_QPA_PLATFORM="offscreen:configfile=$root/tests/gui/offscreen-1920x1080.json" \
        QUENTA_SOURCE_DIR="$root" QUENTA_BINARY_DIR="$build" \
        "$build/tests/gui_quenta_upgradeDlg_test" operatorPath >/dev/null)
    cp "$work/gui-screenshots/screenshot-query.png" "$root/docs/screenshot-query.png"
    echo "Screenshot after a query: docs/screenshot-query.png"
    # The status line during a run on a 700-device site, and the list filtered by one count.
    (cd "$work" && QT_QPA_PLATFORM="offscreen:configfile=$root/tests/gui/offscreen-1920x1080.json" \
        QUENTA_SOURCE_DIR="$root" QUENTA_BINARY_DIR="$build" QUENTA_TEST_SCREENSHOT_700=1 \
        "$build/tests/gui_quenta_upgradeDlg_test" statusLineOn700DeviceSite >/dev/null)
    cp "$work/gui-screenshots/screenshot-status-line.png" "$work/gui-screenshots/screenshot-status-filter.png" \
        "$root/docs/"
    echo "Screenshots of the status line: docs/screenshot-status-line.png, docs/screenshot-status-filter.png"
fi
echo "Demo files (packages, drive root with the log when enabled, site record and output): $work"
