#!/usr/bin/env bash
# Builds the Debian package from build/ (or $BUILD_DIR) and checks it:
# lintian without errors; then, as root, installs it with dpkg -i, runs the
# installed relay (--version, and --check as user tarvex against a throw-away
# database and against none),
# verifies the installed systemd units, prints their security exposure
# (failing when either is above 2.0), and purges the package again. Expects scripts/build.sh to have run.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}

cmake --build "$build_dir" --target Tarvex telsim extclient ldkclient tarvex-amibridge tarvex-events \
  tarvex_packaging_texts
rm -f "$build_dir"/tarvex_*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
deb=$(ls "$build_dir"/tarvex_*.deb)
echo "== $deb"
dpkg-deb --info "$deb" | sed -n '/Depends/p'

echo "== lintian"
lintian_rc=0
lintian --fail-on error "$deb" >"$build_dir/lintian.txt" 2>&1 || lintian_rc=$?
grep -v 'running with root privileges' "$build_dir/lintian.txt" || true
[ "$lintian_rc" -eq 0 ] || { echo "lintian reports errors" >&2; exit 1; }

if [ "$(id -u)" -ne 0 ]; then
  echo "== not root: the package is not installed here"
  exit 0
fi
if dpkg-query -W -f='${Status}' tarvex 2>/dev/null | grep -q "install ok installed"; then
  echo "tarvex is installed on this machine already; not touching it" >&2
  exit 1
fi

purge() { dpkg --purge tarvex >/dev/null 2>&1 || true; }
trap purge EXIT

echo "== dpkg -i"
dpkg -i "$deb" >/dev/null
getent passwd tarvex >/dev/null || { echo "postinst made no user tarvex" >&2; exit 1; }
[ "$(stat -c '%a %U %G' /etc/tarvex/tarvex.env)" = "600 root root" ] ||
  { echo "/etc/tarvex/tarvex.env is not 0600 root:root" >&2; exit 1; }
for secret in tarvex.conf:tarvex amibridge.conf:tarvex-amibridge; do
  [ "$(stat -c '%a %U %G' /etc/tarvex/${secret%:*})" = "640 root ${secret#*:}" ] ||
    { echo "/etc/tarvex/${secret%:*} is not 0640 root:${secret#*:}" >&2; exit 1; }
done
[ -x /usr/bin/tarvex-amibridge ] && [ -f /usr/share/doc/tarvex/pbx-bridge.md ] ||
  { echo "the PBX bridge or its document is missing" >&2; exit 1; }

echo "== /usr/bin/Tarvex --version"
/usr/bin/Tarvex --version

# As the service runs it: user tarvex, the installed settings, a real database.
echo "== /usr/bin/Tarvex --check"
pg_dir=$(mktemp -d /tmp/tarvex-package-pg.XXXXXX)
purge() {
  scripts/pg-cluster.sh remove "$pg_dir" >/dev/null 2>&1 || true
  dpkg --purge tarvex >/dev/null 2>&1 || true
}
odbc=$(scripts/pg-cluster.sh start "$pg_dir")
runuser -u tarvex -- env TARVEX_ODBC="$odbc" /usr/bin/Tarvex --check --config /etc/tarvex/tarvex.conf
check_rc=0
runuser -u tarvex -- env TARVEX_ODBC="DRIVER={PostgreSQL ANSI};SERVER=127.0.0.1;PORT=1;" \
  /usr/bin/Tarvex --check --config /etc/tarvex/tarvex.conf >/dev/null 2>&1 || check_rc=$?
[ "$check_rc" -eq 4 ] || { echo "--check without a database ended with $check_rc, not 4" >&2; exit 1; }
scripts/pg-cluster.sh remove "$pg_dir" >/dev/null

echo "== systemd-analyze verify"
systemd-analyze verify /lib/systemd/system/tarvex.service /lib/systemd/system/tarvex-amibridge.service \
  tarvex-amibridge@check.service
echo "== systemd-analyze security"
# Every unit holds callers' numbers or passwords: their sandboxes must not slip.
for unit in tarvex.service tarvex-amibridge.service tarvex-amibridge@check.service; do
  summary=$(systemd-analyze security --offline=true $unit | tail -n 1)
  echo "$unit: $summary"
  exposure=$(echo "$summary" | sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
  awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 2.0) }' ||
    { echo "$unit exposure ${exposure:-unknown} is above 2.0" >&2; exit 1; }
done
[ -f /usr/share/doc/tarvex/examples/tarvex-ip-allow.conf ] ||
  { echo "the address allow-list example is missing" >&2; exit 1; }

echo "== dpkg --purge"
trap - EXIT
dpkg --purge tarvex >/dev/null
for leftover in /usr/bin/Tarvex /usr/bin/tarvex-amibridge /etc/tarvex \
  /lib/systemd/system/tarvex.service /lib/systemd/system/tarvex-amibridge@.service /var/lib/tarvex; do
  [ ! -e "$leftover" ] || { echo "purge left $leftover" >&2; exit 1; }
done
! getent passwd tarvex >/dev/null || { echo "purge left the user tarvex" >&2; exit 1; }
! getent passwd tarvex-amibridge >/dev/null || { echo "purge left tarvex-amibridge" >&2; exit 1; }
echo "package checks passed"
