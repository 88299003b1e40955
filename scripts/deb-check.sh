#!/usr/bin/env bash
# Builds the .deb from a build folder, installs it with apt-get, runs the installed programs once
# (--version, and `inspect` of a demo package), then removes the package again. Needs root (or
# sudo) and a build folder in which everything is built.
# Usage: bash scripts/deb-check.sh [build-folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
as_root=()
if [ "$(id -u)" -ne 0 ]; then as_root=(sudo); fi

(cd "$build" && rm -f quenta-upgrade_*.deb && cpack -G DEB)
deb=$(ls "$build"/quenta-upgrade_*.deb)
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
if dpkg-deb --contents "$deb" | grep -q quenta-sim; then
  echo "deb-check: quenta-sim must not be in the package" >&2
  exit 1
fi

work=$(mktemp -d)
cleanup() {
  "${as_root[@]}" apt-get remove -y -qq quenta-upgrade >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb"

cli=/usr/bin/quenta-upgrade-cli
window_version=$(/usr/bin/quenta-upgrade --version)
echo "installed window: $window_version"
cli_version=$("$cli" --version)
echo "installed CLI: $cli_version"
if [ "${cli_version##* }" != "${window_version##* }" ]; then
  echo "deb-check: the window and the CLI print different versions" >&2
  exit 1
fi
"$build/sim/quenta-sim" --make-demo-packages "$work" >/dev/null
"$cli" inspect "$work/QN通用升级包-2.4.1.quenta"
test -f /usr/share/applications/quenta-upgrade.desktop
test -f /usr/share/icons/hicolor/256x256/apps/quenta-upgrade.png
grep -q '^License: Apache-2.0' /usr/share/doc/quenta-upgrade/copyright
test -f /usr/share/doc/quenta-upgrade/THIRD-PARTY-NOTICES
if [ -f /usr/share/man/man1/quenta-upgrade-cli.1.gz ]; then
  echo "man page: installed"
else
  echo "deb-check: note: no man page in the package (help2man or the CLI's --help was missing)"
fi
echo "deb-check: installed, ran and removed $(basename "$deb")"
