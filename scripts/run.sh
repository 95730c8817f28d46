#!/usr/bin/env bash
# Runs the product on the demo data: installs what is missing, builds, and starts the
# application server on a demo database (created on first run in build/demo.db).
# Until the desktop window exists, the server is what runs: try the calls in docs/protocol.md.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target acerto-server
listen="${ACERTO_LISTEN:-127.0.0.1:8211}"
echo "acerto-server em http://$listen (Ctrl+C encerra); por exemplo:"
echo "  curl -s -X POST http://$listen/QLM01200.rdmAcertoFinal/GetPesqOrca -d '[\"0001\"]'"
exec build/server/acerto-server --db build/demo.db --demo --listen "$listen" "$@"
