#!/usr/bin/env bash
# Two screens, driven as the robot drives them, each against its own acerto-server, the two
# servers over one PostgreSQL database, working on the same settlement at once (estacao_a.scn
# and estacao_b.scn take turns through signals): lookups, picks, saves and the refusal of a
# stale change behave as on SQLite, and the database holds what both saved. The second server
# listens over TLS, and its station reaches it by an https:// address.
# Usage: run.sh BUILD_DIR POSTGRES_BASE_URL (a cluster where the user may create databases)
set -euo pipefail
build=$(cd "$1" && pwd)
base=$2
here=$(cd "$(dirname "$0")" && pwd)
fixture=$here/../../scenarios/fixtures/buffet.json
work=$(mktemp -d)
name=acerto_duas_$$
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  psql -q -d "$base/postgres" -c "DROP DATABASE IF EXISTS $name" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

psql -q -d "$base/postgres" -c "CREATE DATABASE $name" >/dev/null
db=$base/$name

# 1. Two servers on the database: the first loads the fixture before it listens.
start_server() {
  local n=$1; shift
  "$build/server/acerto-server" --db "$db" --listen 127.0.0.1:0 --port-file "$work/port$n" \
    --clock "2026-12-07 09:30:00" --log-level warn "$@" 2>"$work/server$n.log" &
  pids+=($!)
  for _ in $(seq 400); do [ -s "$work/port$n" ] && return 0; sleep 0.05; done
  cat "$work/server$n.log" >&2
  fail "server $n did not start"
}
start_server 1 --fixture "$fixture" --seed-operator ROBO:senha-das-estacoes
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=acerto-teste \
  -addext 'subjectAltName=IP:127.0.0.1' -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
start_server 2 --tls-cert "$work/cert.pem" --tls-key "$work/key.pem"
port1=$(cat "$work/port1")
port2=$(cat "$work/port2")

# 2. The two stations at once, one on each server.
"$build/robot/acerto-robot" --connect "127.0.0.1:$port1" --sync-dir "$work" "$here/estacao_a.scn" >"$work/a.log" 2>&1 &
a=$!
"$build/robot/acerto-robot" ${ACERTO_ROBOT_TRACE:+--trace} --connect "https://127.0.0.1:$port2" \
  --tls-ca "$work/cert.pem" --sync-dir "$work" "$here/estacao_b.scn" >"$work/b.log" 2>&1 &
b=$!
status=0
wait "$a" || status=1
wait "$b" || status=1
cat "$work/a.log" "$work/b.log"
[ "$status" -eq 0 ] || fail "a station failed"

# 3. What the database holds: A's change of line 0002 (B's was refused), A's line 0006, B's 0007.
stored=$(psql -At -d "$db" -c "SELECT NRACERTOQUEB || ':' || CDARVPROD || ':' || QTACERTOQUEB FROM ACERTOQUEBRA
  WHERE CDFILIAL = '0001' AND NRORCAEVENTO = '0000000100' ORDER BY NRACERTOQUEB" | tr '\n' ' ')
[ "$stored" = "0001:101001:1 0002:101001:7 0005:101001:5 0006:101001:4 0007:101002:3 " ] || fail "stored: $stored"
echo "ok: two stations on two servers of one PostgreSQL database"
