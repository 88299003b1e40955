#!/usr/bin/env bash
# End-to-end runs of quenta-upgrade-cli.exe under wine against the Linux quenta-sim, compared with the
# Linux quenta-upgrade-cli on the same packages and the same site:
#   inspect  every demo package: the same output and exit status;
#   query    the demo site (sim/demo/site.json, which shows every fault mode of the simulated site);
#   upgrade  the demo site, versions verified after the reboot: the same final device list (statuses
#            and reasons), the same summary, and every device received the same bytes;
#   hostile  an upgrade of sim/demo/hostile-site.json (odd upload ports, overlong and trickled error
#            replies): every hostile device ends 升级失败 with its reason on both systems;
#   addresses  a site listing and reporting odd address texts: only the honest device is listed and
#              nothing reaches the addresses a loose reading would make of them (both systems);
#   no serial  an address box answering without its serial number: refused with the reason, exit 1;
# and for query and upgrade the same exit status (0 done, 1 refused, 2 a device failed). The lists
# are the CLI's own JSON (--format json), compared with jq.
# Everything runs inside one private network namespace (sim/netns-run) with a fresh WINEPREFIX made
# inside it, so its wineserver (which creates the sockets of every wine process) lives there too;
# the run ends with `wineserver -k`.
#
# Usage: windows-e2e.sh NATIVE-BUILD WINDOWS-BUILD
#   NATIVE-BUILD   a Linux build folder with sim/quenta-sim and cli/quenta-upgrade-cli
#   WINDOWS-BUILD  a Windows build folder with cli/quenta-upgrade-cli.exe
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/lib.sh"

if [[ "${1:-}" != --inner ]]; then
    if (($# != 2)); then
        awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0" >&2
        exit 2
    fi
    quenta_need_packages jq
    native=$(cd "$1" && pwd)
    windows=$(cd "$2" && pwd)
    work=$(mktemp -d "${TMPDIR:-/tmp}/quenta-windows-e2e.XXXXXX")
    "$native/sim/quenta-sim" --make-demo-packages "$work/packages" >/dev/null
    status=0
    "$root/sim/netns-run" --addresses 100 -- bash "$0" --inner "$native" "$windows" "$work" || status=$?
    if ((status == 0)); then
        rm -rf "$work"
    else
        echo "windows-e2e: FAILED (files kept in $work)" >&2
    fi
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
cli_linux=(env QUENTA_DRIVE_ROOT="$work/drives-linux" "$native/cli/quenta-upgrade-cli")
cli_windows=(wine "$windows/cli/quenta-upgrade-cli.exe")
failures=0

# The Windows program writes text-mode output (CR LF line ends); compare the lines.
crlf_to_lf() { tr -d '\r'; }
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

same() {  # same NAME LINUX-FILE WINDOWS-FILE
    if diff -u "$2" "$3" >"$work/$1.diff"; then
        echo "same      $1"
    else
        echo "DIFFERENT $1:" >&2
        cat "$work/$1.diff" >&2
        failures=$((failures + 1))
    fi
}

# -- inspect: every package, by a Windows path (Chinese names through the wide command line).
for package in "$work"/packages/*; do
    name=$(basename "$package")
    status=0
    "${cli_linux[@]}" inspect "$package" >"$work/inspect-linux" 2>&1 || status=$?
    echo "exit $status" >>"$work/inspect-linux"
    status=0
    "${cli_windows[@]}" inspect "$(windows_path "$package")" 2>&1 | crlf_to_lf >"$work/inspect-windows" ||
        status=$?
    echo "exit $status" >>"$work/inspect-windows"
    same "inspect $name" "$work/inspect-linux" "$work/inspect-windows"
done

# -- query and upgrade of the demo site, each front end against a fresh site. For each verb and
# system: the list in VERB-SYSTEM.json, stderr (the summary) in .err, the exit status in .exit.
site="$root/sim/demo/site.json"
general="$work/packages/QN通用升级包-2.4.1.quenta"
run_site() {  # run_site SYSTEM PACKAGE CLI...
    local system=$1 package=$2 verb status
    shift 2
    quenta_start_site "$work/site-$system.log" "$native/sim/quenta-sim" --config "$site" \
        --record "$work/record-$system.json"
    for verb in query upgrade; do
        status=0
        # In one go: the rows each system lists first would otherwise pick the first devices.
        local extra=()
        [[ $verb == upgrade ]] && extra=(--no-stages)
        "$@" "$verb" --package "$package" --address-box 192.0.2.2 --format json --quiet "${extra[@]}" \
            2>"$work/$verb-$system.err" | crlf_to_lf >"$work/$verb-$system.json" || status=$?
        echo "exit $status" >"$work/$verb-$system.exit"
    done
    quenta_stop_site
}
run_site linux "$general" "${cli_linux[@]}"
run_site windows "$(windows_path "$general")" "${cli_windows[@]}"

for verb in query upgrade; do
    if ! jq -e 'length > 0' "$work/$verb-linux.json" >/dev/null 2>&1; then
        echo "windows-e2e: the Linux $verb gave no device list ($(cat "$work/$verb-linux.exit"))" >&2
        failures=$((failures + 1))
    fi
    same "$verb exit status" "$work/$verb-linux.exit" "$work/$verb-windows.exit"
done

# Three things are matters of timing on either system, not differences between them:
# - a device that answers seconds late ("delayMs" of 2000 or more: after the query has ended) makes a
#   row only when its answer still finds the listener reading: its rows are left out, and the run
#   summaries (which count them) are compared only when both lists hold the same late devices;
# - a device that closes the upload half-way ("closeHalfway") fails either as transfer_broken (at the
#   percent the sender had handed to its socket) or, when the socket buffers took the whole content
#   before the close, as no_verdict: either reason compares as the same;
# - rows come in the order the answers arrived, and a device that answers 0.4 s late lands wherever
#   the sending of the requests has got to by then (wine sends more slowly): rows compare by address.
# shellcheck disable=SC2016  # jq's own $variables
addresses='def ip2n: split(".") | map(tonumber) | reduce .[] as $octet (0; . * 256 + $octet);
    def n2ip: [(. / 16777216 | floor), (. / 65536 | floor) % 256, (. / 256 | floor) % 256, . % 256]
        | map(tostring) | join(".");
    def among($set): . as $ip | any($set[]; . == $ip);
    def addresses(fault): [.devices[] | select(.ip and (.faults // {} | fault))
        | (.ip | ip2n) as $first | range(.count // 1) | $first + . | n2ip];'
late=$(jq -c "$addresses"' addresses((.delayMs // 0) >= 2000)' "$site")
halfway=$(jq -c "$addresses"' addresses(.closeHalfway // false)' "$site")
comparable() {  # comparable LIST.json: its rows as compared, one a line
    jq -c --argjson late "$late" --argjson halfway "$halfway" "$addresses"'
        map(select(.ip | among($late) | not)
            | if (.ip | among($halfway)) and (.reason == "transfer_broken" or .reason == "no_verdict")
              then .reason = "transfer_broken|no_verdict" | .reasonText = "(either)" else . end)
        | sort_by(.ip | ip2n) | .[]' "$1"
}
late_rows() {  # late_rows LIST.json: the late devices it lists
    jq -c --argjson late "$late" "$addresses"' [.[].ip | select(among($late))] | sort' "$1"
}
for verb in query upgrade; do
    for system in linux windows; do
        comparable "$work/$verb-$system.json" >"$work/$verb-$system.compared"
    done
done
same "query device list" "$work/query-linux.compared" "$work/query-windows.compared"
same "upgrade final device list" "$work/upgrade-linux.compared" "$work/upgrade-windows.compared"
late_linux=$(late_rows "$work/upgrade-linux.json")
late_windows=$(late_rows "$work/upgrade-windows.json")
if [[ "$late_linux" == "$late_windows" ]]; then
    for system in linux windows; do
        # Each run's own report: its folder differs by system and its name by the start time, so
        # only its file name's shape is compared (the address box IP and a time stamp).
        crlf_to_lf <"$work/upgrade-$system.err" |
            sed -E 's#^(报告已保存：).*[/\\]([0-9.]+)_[0-9]{8}_[0-9]{6}(_[0-9]+)?\.csv$#\1\2_DATE_TIME.csv#' \
                >"$work/upgrade-$system.summary"
    done
    same "upgrade summary" "$work/upgrade-linux.summary" "$work/upgrade-windows.summary"
else
    echo "not compared: upgrade summary (late devices listed: Linux $late_linux, Windows $late_windows)"
fi

# The uploads a site received (device, remote name, sizes, digest, reply, close), one line each, sorted.
uploads_of() {
    jq -r '[.uploads // [] | .[]
        | [.device, .remoteName, .declaredSize, .receivedSize, .complete, .sha256, .reply, .closeCommand]
        | map(tojson) | join(" ")] | sort | .[]' "$1"
}
uploads_of "$work/record-linux.json" >"$work/uploads-linux"
uploads_of "$work/record-windows.json" >"$work/uploads-windows"
same "uploads (device, name, size, SHA-256, reply)" "$work/uploads-linux" "$work/uploads-windows"
echo "devices upgraded: $(wc -l <"$work/uploads-windows") uploads on each system"

# -- a hostile site (sim/demo/hostile-site.json): port numbers outside 1-65535 and error replies that
# are too long or trickled end 升级失败 with their reason on both systems, and no upload reaches the
# port such a number wraps to. The trickled reply is given up 30 s after its first byte.
hostile="$root/sim/demo/hostile-site.json"
expected_hostile='192.0.2.10 升级失败 no_upload_port
192.0.2.11 升级失败 no_upload_port
192.0.2.12 升级失败 no_upload_port
192.0.2.13 升级失败 invalid_reply
192.0.2.14 升级失败 invalid_reply
192.0.2.15 升级完成 '
for system in linux windows; do
    quenta_start_site "$work/hostile-site-$system.log" "$native/sim/quenta-sim" --config "$hostile" \
        --record "$work/hostile-record-$system.json"
    if [[ $system == linux ]]; then
        hostile_cli=("${cli_linux[@]}" upgrade --package "$general")
    else
        hostile_cli=("${cli_windows[@]}" upgrade --package "$(windows_path "$general")")
    fi
    status=0
    "${hostile_cli[@]}" --address-box 192.0.2.2 --format json --quiet --no-stages 2>"$work/hostile-$system.err" |
        crlf_to_lf >"$work/hostile-$system.json" || status=$?
    quenta_stop_site
    { jq -r 'sort_by(.ip) | .[] | "\(.ip) \(.status) \(.reason // "")"' "$work/hostile-$system.json"
      echo "exit $status"
      jq -r '[.uploads // [] | .[] | select(.device == "192.0.2.10" or .device == "192.0.2.11")] | length
          | "uploads to wrapped ports: \(.)"' "$work/hostile-record-$system.json"
    } >"$work/hostile-$system.rows"
    printf '%s\nexit 2\nuploads to wrapped ports: 0\n' "$expected_hostile" >"$work/hostile-expected.rows"
    same "hostile site ($system)" "$work/hostile-expected.rows" "$work/hostile-$system.rows"
done

# -- odd address texts: the box lists names, old numeric forms and special addresses, devices report such
# texts as their "IP". Only the honest device is listed, and the peers that the loose forms would
# reach (192.0.2.8 for "192.0.2.010", 192.0.2.12 for "3221225996" and "192.0.524") receive nothing.
cat >"$work/odd-addresses-site.json" <<'JSON'
{
  "defaults": {"model": "QN-H200", "platform": "hi3516a", "hardVersion": "HW-1.0",
               "kernelVersion": "3.10.108", "softVersion": "2.3.9", "master": 1, "slave": 0},
  "addressBox": {"ip": "192.0.2.2", "model": "QN-AB100", "serialNum": "QNT0AB10001",
                 "phantoms": ["localhost", "192.0.2.010", "3221225996", "192.0.524", "224.0.0.1",
                              "255.255.255.255", "192.0.2.255", "192.0.2.0", "192.0.2.1", "127.0.0.1"]},
  "devices": [
    {"ip": "192.0.2.8", "serialNum": "QNT2H200008", "listed": false},
    {"ip": "192.0.2.11", "serialNum": "QNT2H200011"},
    {"ip": "192.0.2.12", "serialNum": "QNT2H200012", "listed": false},
    {"ip": "192.0.2.20", "serialNum": "QNT2H200020", "reportedIp": "192.0.2.267"},
    {"ip": "192.0.2.21", "serialNum": "QNT2H200021", "reportedIp": "localhost"},
    {"ip": "192.0.2.22", "serialNum": "QNT2H200022", "reportedIp": "192.0.2.010"}
  ]
}
JSON
odd_addresses() {  # odd_addresses SYSTEM PACKAGE CLI...: the listed addresses and the datagrams .8 and .12 received
    local system=$1 package=$2 status=0
    shift 2
    quenta_start_site "$work/odd-addresses-$system.log" "$native/sim/quenta-sim" --config "$work/odd-addresses-site.json" \
        --record "$work/odd-addresses-record-$system.json"
    "$@" query --package "$package" --address-box 192.0.2.2 --format json --quiet \
        2>"$work/odd-addresses-$system.err" | crlf_to_lf >"$work/odd-addresses-$system.json" || status=$?
    quenta_stop_site
    {
        echo "exit $status"
        jq -c '[.[].ip] | sort' "$work/odd-addresses-$system.json"
        jq -c '[.datagrams[] | select(.direction == "received") | .peer | select(test("^192\\.0\\.2\\.(8|12):"))]
            | length' "$work/odd-addresses-record-$system.json"
    } >"$work/odd-addresses-$system.seen"
}
printf 'exit 0\n["192.0.2.11"]\n0\n' >"$work/odd-addresses-expected.seen"
odd_addresses linux "$general" "${cli_linux[@]}"
odd_addresses windows "$(windows_path "$general")" "${cli_windows[@]}"
same "odd address texts (Linux)" "$work/odd-addresses-expected.seen" "$work/odd-addresses-linux.seen"
same "odd address texts (Windows)" "$work/odd-addresses-expected.seen" "$work/odd-addresses-windows.seen"
status=0
"${cli_windows[@]}" query --package "$(windows_path "$general")" --address-box localhost --quiet \
    >/dev/null 2>&1 || status=$?
echo "exit $status" >"$work/typed-windows.exit"
echo "exit 1" >"$work/typed-expected.exit"
same "typed address box \"localhost\" refused (Windows)" "$work/typed-expected.exit" "$work/typed-windows.exit"

# -- an address box that answers without its serial number: the query is refused with the reason on
# stderr and exit 1 on both systems (never an empty list and exit 0).
jq '.addressBox.faults = {noSerialNum: true}' "$root/sim/demo/site.json" >"$work/no-serial-site.json"
quenta_start_site "$work/no-serial-site.log" "$native/sim/quenta-sim" --config "$work/no-serial-site.json"
for system in linux windows; do
    status=0
    if [[ $system == linux ]]; then
        "${cli_linux[@]}" query --package "$general" --address-box 192.0.2.2 --quiet \
            >"$work/no-serial-$system.out" 2>"$work/no-serial-$system.err" || status=$?
    else
        "${cli_windows[@]}" query --package "$(windows_path "$general")" --address-box 192.0.2.2 --quiet \
            >"$work/no-serial-$system.out" 2>"$work/no-serial-$system.err" || status=$?
    fi
    { echo "exit $status"; crlf_to_lf <"$work/no-serial-$system.err"; } >"$work/no-serial-$system.seen"
done
quenta_stop_site
printf 'exit 1\n不能从指定的地址盒IP获得系统信息，或许它的软件版本太老！\n' >"$work/no-serial-expected.seen"
same "address box without serial number refused (Linux)" "$work/no-serial-expected.seen" "$work/no-serial-linux.seen"
same "address box without serial number refused (Windows)" "$work/no-serial-expected.seen" \
    "$work/no-serial-windows.seen"

if ((failures > 0)); then
    echo "windows-e2e: $failures difference(s) between Linux and Windows" >&2
    exit 1
fi
echo "windows-e2e: Linux and Windows agree"
