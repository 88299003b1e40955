# shellcheck shell=bash
# Shared helpers of the scripts in this folder; source it: source "$root/scripts/lib.sh".
# Every function names its caller's tool in its messages through $QUENTA_SCRIPT (default: the
# script's file name).
#   quenta_need_packages PACKAGE...   install what is missing (root) or name it and fail
#   quenta_start_xvfb FIRST LAST [WxH]  an Xvfb (screen WxH, default 1600x1000) on the first free
#                                     display of FIRST..LAST, unless DISPLAY is set
#   quenta_stop_xvfb                  ends that Xvfb
#   quenta_require_private_netns      refuse (exit 3) outside a namespace made by sim/netns-run
#   quenta_wine_prefix DIR            WINEPREFIX=DIR and wine's quiet settings; makes the prefix
#   quenta_wine_end                   wineserver -k
#   quenta_start_site LOG QUENTA-SIM ARGS...   the simulated site in the background, ready on return
#   quenta_stop_site                  ends it (SIGTERM; it writes its record)

QUENTA_SCRIPT=${QUENTA_SCRIPT:-$(basename "$0" .sh)}

quenta_fail() {
    echo "$QUENTA_SCRIPT: $*" >&2
    return 1
}

# The Debian packages given that are not installed are installed with apt-get when running as root;
# otherwise they are named and the call fails.
quenta_need_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    ((${#missing[@]})) || return 0
    ((EUID == 0)) || quenta_fail "missing packages (run as root or install them): ${missing[*]}" || return
    echo "Installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# An Xvfb for X clients started later, also inside a namespace (they reach it through
# /tmp/.X11-unix). Nothing is started when DISPLAY is already set.
QUENTA_XVFB_PID=""
quenta_start_xvfb() {  # quenta_start_xvfb FIRST-DISPLAY LAST-DISPLAY [WIDTHxHEIGHT]
    [[ -z "${DISPLAY:-}" ]] || return 0
    local screen=${3:-1600x1000}
    local n
    for ((n = $1; n <= $2; n++)); do
        [[ -e /tmp/.X11-unix/X$n ]] || break
    done
    ((n <= $2)) || quenta_fail "no free X display from :$1 to :$2" || return
    Xvfb ":$n" -screen 0 "${screen}x24" -nolisten tcp >/dev/null 2>&1 &
    QUENTA_XVFB_PID=$!
    export DISPLAY=":$n"
    local _
    for _ in $(seq 50); do
        [[ -e /tmp/.X11-unix/X$n ]] && return 0
        kill -0 "$QUENTA_XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    quenta_fail "Xvfb :$n did not start"
}

quenta_stop_xvfb() {
    [[ -n "$QUENTA_XVFB_PID" ]] || return 0
    kill "$QUENTA_XVFB_PID" 2>/dev/null || true
    wait "$QUENTA_XVFB_PID" 2>/dev/null || true
    QUENTA_XVFB_PID=""
}

# The code that sends to the site's addresses runs only inside a namespace that sim/netns-run made
# (it sets QUENTA_NETNS=1) and that holds no interface but lo.
quenta_require_private_netns() {
    local others
    others=$(ip -o link show | awk -F': ' '{ sub(/@.*/, "", $2); if ($2 != "lo") print $2 }')
    if [[ -n "$others" || "${QUENTA_NETNS:-}" != 1 ]]; then
        quenta_fail "not inside a private network namespace; refusing to run" || true
        exit 3
    fi
}

# Wine's settings and its prefix. Inside a namespace the prefix must be new: the wineserver of an
# existing prefix may run outside and would create the sockets of every wine process there.
# End the run with quenta_wine_end.
quenta_wine_prefix() {  # quenta_wine_prefix DIR
    if [[ "${QUENTA_NETNS:-}" == 1 && -e "$1" ]]; then
        quenta_fail "the wine prefix $1 exists already; a namespace run needs a fresh one" || return
    fi
    export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    [[ -d "$WINEPREFIX/drive_c" ]] || wineboot -i >/dev/null 2>&1
}

quenta_wine_end() {
    wineserver -k 2>/dev/null || true
}

# The simulated site in the background, its stdout in LOG (stderr stays). quenta-sim prints its
# "N peers" line once every socket is bound: the site answers from then on. Waits for that line
# for at most 20 s. Do not pass --quiet.
QUENTA_SITE_PID=""
quenta_start_site() {  # quenta_start_site LOG QUENTA-SIM ARGS...
    local log=$1
    shift
    "$@" >"$log" &
    QUENTA_SITE_PID=$!
    local _
    for _ in $(seq 200); do
        grep -q '^quenta-sim: [0-9]* peers' "$log" 2>/dev/null && return 0
        if ! kill -0 "$QUENTA_SITE_PID" 2>/dev/null; then
            wait "$QUENTA_SITE_PID" 2>/dev/null || true
            QUENTA_SITE_PID=""
            quenta_fail "the simulated site ended before it was ready ($*)"
            return
        fi
        sleep 0.1
    done
    quenta_fail "the simulated site was not ready after 20 s ($*)"
}

quenta_stop_site() {
    [[ -n "$QUENTA_SITE_PID" ]] || return 0
    kill -TERM "$QUENTA_SITE_PID" 2>/dev/null || true
    wait "$QUENTA_SITE_PID" 2>/dev/null || true
    QUENTA_SITE_PID=""
}
