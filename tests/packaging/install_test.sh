#!/usr/bin/env bash
# Builds the Debian packages of a build directory, installs them on this machine with apt-get,
# and checks them: the server's user and its data folder, the server started as that user and
# answering a workstation's read, the desktop's files and the desktop itself running against a
# server. It changes the machine, so it runs only as root with ACERTO_PACKAGE_TEST=1 (otherwise
# it is skipped, exit code 77). Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
if [ "${ACERTO_PACKAGE_TEST:-}" != 1 ] || [ "$(id -u)" -ne 0 ]; then
  echo "skipped: run as root with ACERTO_PACKAGE_TEST=1 (it installs packages on this machine)"
  exit 77
fi
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -f /var/lib/acerto/pacote-teste.db /var/lib/acerto/pacote-teste.db-wal /var/lib/acerto/pacote-teste.db-shm \
    /var/lib/acerto/pacote-teste.port
  rm -rf "$work"
}
trap cleanup EXIT

# 1. The packages.
cd "$build"
rm -f acerto-server_*.deb acerto_*.deb
cpack -G DEB >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
server_deb=$(ls acerto-server_*.deb)
desktop_deb=$(ls acerto_*.deb)
apt-get install -y -q --reinstall "./$server_deb" "./$desktop_deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt-get install"; }
echo "installed $server_deb $desktop_deb"

# 2. The server package: the system user, its folder (its own, mode 0700), the unit, the
# arguments readable by root and the server's group only.
getent passwd acerto >/dev/null || fail "no user acerto"
[ "$(getent passwd acerto | cut -d: -f7)" = /usr/sbin/nologin ] || fail "the user acerto can log in"
[ "$(stat -c '%a %U %G' /var/lib/acerto)" = "700 acerto acerto" ] ||
  fail "/var/lib/acerto is $(stat -c '%a %U %G' /var/lib/acerto)"
unit=/usr/lib/systemd/system/acerto-server.service
[ -f "$unit" ] || unit=/lib/systemd/system/acerto-server.service
grep -q '^User=acerto$' "$unit" || fail "the unit does not run as acerto"
grep -q '^ExecStart=/usr/bin/acerto-server \$ACERTO_SERVER_ARGS$' "$unit" || fail "the unit's ExecStart"
[ "$(stat -c '%a %U %G' /etc/default/acerto-server)" = "640 root acerto" ] || fail "/etc/default/acerto-server mode"
! ldd /usr/bin/acerto-server | grep -q 'not found' || fail "acerto-server misses a library"

# 3. The server as the unit starts it: as acerto, its database in its folder, readable by it only.
runuser -u acerto -- /usr/bin/acerto-server --db /var/lib/acerto/pacote-teste.db --demo --listen 127.0.0.1:0 \
  --port-file /var/lib/acerto/pacote-teste.port --log-level warn &
server_pid=$!
for _ in $(seq 200); do [ -s /var/lib/acerto/pacote-teste.port ] && break; sleep 0.05; done
port=$(cat /var/lib/acerto/pacote-teste.port 2>/dev/null) || fail "the server did not start"
pgrep -u acerto -f 'acerto-server --db /var/lib/acerto/pacote-teste.db' >/dev/null || fail "the server is not acerto's"
curl -sf "http://127.0.0.1:$port/QLM01200.rdmAcertoFinal" | grep -q '"server":"QLM01200.rdmAcertoFinal"' ||
  fail "the server does not answer"
# A workstation signs in (the demo operator) and reads with its token; without one it is refused.
refused=$(curl -s -X POST "http://127.0.0.1:$port/QLM01200.rdmAcertoFinal/OpenQuery" \
  -d '["SELECT CDPRECOBASE FROM PRECOBASE", []]')
echo "$refused" | grep -q 'Sessão inválida' || fail "a read without signing in: $refused"
token=$(curl -sf -X POST "http://127.0.0.1:$port/session" -d '["DEMO","demo1234"]' |
  sed -n 's/.*"token":"\([0-9a-f]*\)".*/\1/p')
[ -n "$token" ] || fail "the demo operator could not sign in"
answer=$(curl -sf -X POST -H "Authorization: Bearer $token" "http://127.0.0.1:$port/QLM01200.rdmAcertoFinal/OpenQuery" \
  -d '["SELECT CDPRECOBASE, DSPRECOBASE FROM PRECOBASE WHERE CDPRECOBASE = ?", ["01"]]')
echo "$answer" | grep -q '"rows":\[\["01"' || fail "a workstation's read: $answer"
[ "$(stat -c '%a %U' /var/lib/acerto/pacote-teste.db)" = "600 acerto" ] || fail "the database file's mode"

# 4. The desktop package: binary, module, report, desktop file, settings; and the window itself,
# offscreen, drawing a loaded budget from a server it starts with the installed binary.
for f in /usr/bin/acerto /usr/lib/acerto/libqlm01200.so /usr/share/acerto/reports/QLM012.json \
  /usr/share/applications/acerto.desktop /etc/acerto/acerto.json; do
  [ -e "$f" ] || fail "$f is missing"
done
! ldd /usr/bin/acerto | grep -q 'not found' || fail "acerto misses a library"
HOME="$work" QT_QPA_PLATFORM=offscreen /usr/bin/acerto --screenshot "$work/tela.png" \
  --server-bin /usr/bin/acerto-server >"$work/acerto.log" 2>&1 || { cat "$work/acerto.log"; fail "acerto"; }
[ -s "$work/tela.png" ] || fail "acerto drew nothing"
echo "ok: both packages installed, the server ran as acerto on port $port, the desktop drew its screen"
