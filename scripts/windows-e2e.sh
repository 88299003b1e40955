#!/usr/bin/env bash
# End-to-end runs of quenta-upgrade-cli.exe under wine against the Linux quenta-sim, compared with the
# Linux quenta-upgrade-cli on the same packages and the same site:
#   inspect  every demo package: the same output and exit status;
#   query    the demo site (sim/demo/site.json, which shows every fault mode of the simulated site);
#   upgrade  the demo site, versions verified after the reboot: the same final device list (statuses
#            and reasons), the same summary, and every device received the same bytes.
# Everything runs inside one private network namespace (sim/netns-run) with a fresh WINEPREFIX made
# inside it, so its wineserver (which creates the sockets of every wine process) lives there too;
# the run ends with `wineserver -k`.
#
# Usage: windows-e2e.sh NATIVE-BUILD WINDOWS-BUILD
#   NATIVE-BUILD   a Linux build folder with sim/quenta-sim and cli/quenta-upgrade-cli
#   WINDOWS-BUILD  a Windows build folder with cli/quenta-upgrade-cli.exe
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [[ "${1:-}" != --inner ]]; then
    if (($# != 2)); then
        sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//' >&2
        exit 2
    fi
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
others=$(ip -o link show | awk -F': ' '{ sub(/@.*/, "", $2); if ($2 != "lo") print $2 }')
if [[ -n "$others" || "${QUENTA_NETNS:-}" != 1 ]]; then
    echo "windows-e2e: not inside a private network namespace; refusing to run" >&2
    exit 3
fi

export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
trap 'wineserver -k 2>/dev/null || true' EXIT
wineboot -i >/dev/null 2>&1
cli_linux=("$native/cli/quenta-upgrade-cli")
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
    set +e
    QUENTA_DRIVE_ROOT="$work/drives-linux" "${cli_linux[@]}" inspect "$package" >"$work/inspect-linux" 2>&1
    echo "exit $?" >>"$work/inspect-linux"
    "${cli_windows[@]}" inspect "$(windows_path "$package")" 2>&1 | crlf_to_lf >"$work/inspect-windows"
    echo "exit ${PIPESTATUS[0]}" >>"$work/inspect-windows"
    set -e
    same "inspect $name" "$work/inspect-linux" "$work/inspect-windows"
done

# -- query and upgrade of the demo site, each front end against a fresh site.
general="$work/packages/QN通用升级包-2.4.1.quenta"
sim_pid=""
start_site() {
    "$native/sim/quenta-sim" --config "$root/sim/demo/site.json" --record "$work/record-$1.json" --quiet &
    sim_pid=$!
    sleep 1
}
stop_site() {
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
}
# The uploads a site received (device, remote name, sizes, digest, reply, close), one line each, sorted.
uploads_of() {
    python3 - "$1" <<'PY'
import json, sys
record = json.load(open(sys.argv[1], encoding="utf-8"))
keys = ("device", "remoteName", "declaredSize", "receivedSize", "complete", "sha256", "reply", "closeCommand")
lines = sorted(" ".join(json.dumps(u.get(k), ensure_ascii=False) for k in keys) for u in record.get("uploads", []))
print("\n".join(lines))
PY
}

start_site linux
QUENTA_DRIVE_ROOT="$work/drives-linux" "${cli_linux[@]}" query --package "$general" --address-box 192.0.2.2 \
    --format csv --quiet >"$work/query-linux.csv" 2>"$work/query-linux.err" || true
QUENTA_DRIVE_ROOT="$work/drives-linux" "${cli_linux[@]}" upgrade --package "$general" --address-box 192.0.2.2 \
    --format csv --quiet >"$work/upgrade-linux.csv" 2>"$work/upgrade-linux.err" || true
stop_site

start_site windows
"${cli_windows[@]}" query --package "$(windows_path "$general")" --address-box 192.0.2.2 --format csv --quiet \
    2>"$work/query-windows.err" | crlf_to_lf >"$work/query-windows.csv" || true
"${cli_windows[@]}" upgrade --package "$(windows_path "$general")" --address-box 192.0.2.2 --format csv --quiet \
    2>"$work/upgrade-windows.err" | crlf_to_lf >"$work/upgrade-windows.csv" || true
stop_site

for file in query-linux.csv upgrade-linux.csv; do
    if [[ $(wc -l <"$work/$file") -lt 2 ]]; then
        echo "windows-e2e: the Linux run gave no device list ($file)" >&2
        failures=$((failures + 1))
    fi
done
# Three things are matters of timing on either system, not differences between them:
# - a device that answers seconds late ("delayMs" of 2000 or more: after the query has ended) makes a
#   row only when its answer still finds the listener reading: its rows are left out, and so are they
#   from the counts of the run summary;
# - a device that closes the upload half-way ("closeHalfway") fails either as transfer_broken (at the
#   percent the sender had handed to its socket) or, when the socket buffers took the whole content
#   before the close, as no_verdict: either reason compares as the same;
# - rows come in the order the answers arrived, and a device that answers 0.4 s late lands wherever
#   the sending of the requests has got to by then (wine sends more slowly): rows compare by address.
comparable() {  # comparable CSV-FILE [SUMMARY-FILE]: the rows as compared, or the run summary
    python3 - "$root/sim/demo/site.json" "$@" <<'PY'
import csv, ipaddress, json, re, sys
site = json.load(open(sys.argv[1], encoding="utf-8"))
late, halfway = set(), set()
for device in site.get("devices", []):
    if "ip" not in device:
        continue
    first = ipaddress.IPv4Address(device["ip"])
    addresses = {str(first + i) for i in range(device.get("count", 1))}
    faults = device.get("faults", {})
    if faults.get("delayMs", 0) >= 2000:
        late |= addresses
    if faults.get("closeHalfway"):
        halfway |= addresses
rows = list(csv.reader(open(sys.argv[2], encoding="utf-8", newline="")))
if not rows:
    sys.exit(0)
header = rows[0]
ip, status, reason, text = (header.index(k) if k in header else -1 for k in ("ip", "status", "reason", "reasonText"))
kept, dropped = [header], []
for row in rows[1:]:
    if ip >= 0 and row[ip] in late:
        dropped.append(row)
        continue
    if ip >= 0 and row[ip] in halfway and reason >= 0 and row[reason] in ("transfer_broken", "no_verdict"):
        row[reason] = "transfer_broken|no_verdict"
        if text >= 0:
            row[text] = "(either)"
    kept.append(row)
if len(sys.argv) < 4:
    if ip >= 0:
        kept[1:] = sorted(kept[1:], key=lambda row: ipaddress.IPv4Address(row[ip]))
    csv.writer(sys.stdout, lineterminator="\n").writerows(kept)
    sys.exit(0)
# The summary counts rows by status (升级完成 with reason not_verified counts as 未验证): take the
# late devices' rows out of its counts.
counts = {"成功": 0, "失败": 0, "未验证": 0}
for row in dropped:
    if row[status] == "升级失败":
        counts["失败"] += 1
    elif row[status] == "升级完成":
        counts["未验证" if row[reason] == "not_verified" else "成功"] += 1
summary = open(sys.argv[3], encoding="utf-8").read().replace("\r\n", "\n")
for name, late_count in counts.items():
    summary = re.sub(rf"^{name}：(\d+) 台$", lambda m: f"{name}：{int(m.group(1)) - late_count} 台", summary,
                     flags=re.M)
sys.stdout.write(summary)
PY
}
for list in query upgrade; do
    comparable "$work/$list-linux.csv" >"$work/$list-linux.compared"
    comparable "$work/$list-windows.csv" >"$work/$list-windows.compared"
done
same "query device list" "$work/query-linux.compared" "$work/query-windows.compared"
same "upgrade final device list" "$work/upgrade-linux.compared" "$work/upgrade-windows.compared"
for system in linux windows; do
    comparable "$work/upgrade-$system.csv" "$work/upgrade-$system.err" >"$work/upgrade-$system.summary"
done
same "upgrade summary (without the late devices)" "$work/upgrade-linux.summary" "$work/upgrade-windows.summary"
uploads_of "$work/record-linux.json" >"$work/uploads-linux"
uploads_of "$work/record-windows.json" >"$work/uploads-windows"
same "uploads (device, name, size, SHA-256, reply)" "$work/uploads-linux" "$work/uploads-windows"
echo "devices upgraded: $(wc -l <"$work/uploads-windows") uploads on each system"

if ((failures > 0)); then
    echo "windows-e2e: $failures difference(s) between Linux and Windows" >&2
    exit 1
fi
echo "windows-e2e: Linux and Windows agree"
