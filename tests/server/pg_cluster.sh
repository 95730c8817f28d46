#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the tests: start DIR PORT | stop DIR.
# Runs as the postgres user when started by root (the server refuses to run as root).
set -euo pipefail
cmd=$1
dir=$2
pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
run=()
if [ "$(id -u)" -eq 0 ]; then run=(runuser -u postgres --); fi
case "$cmd" in
start)
  port=$3
  if [ -f "$dir/data/postmaster.pid" ]; then "${run[@]}" "$pgbin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true; fi
  rm -rf "$dir"
  mkdir -p "$dir"
  if [ "$(id -u)" -eq 0 ]; then chown postgres "$dir"; fi
  "${run[@]}" "$pgbin/initdb" -D "$dir/data" -U acerto --auth=trust -E UTF8 --no-locale >"$dir/initdb.log"
  "${run[@]}" "$pgbin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
    -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c max_connections=200" start >/dev/null
  echo "PostgreSQL de teste em 127.0.0.1:$port ($dir)"
  ;;
stop)
  # Immediate: the cluster is thrown away, and a clean stop's checkpoint syncs every file of
  # every database the run created (a minute and more on a slow disk).
  if [ -d "$dir/data" ]; then "${run[@]}" "$pgbin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null; fi
  rm -rf "$dir"
  ;;
*)
  echo "uso: $0 start DIR PORTA | stop DIR" >&2
  exit 2
  ;;
esac
