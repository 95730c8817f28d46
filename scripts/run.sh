#!/usr/bin/env bash
# Runs the product: installs what is missing, builds, and opens the suite's window on the demo
# data (an acerto-server started on a demo database, stopped when the window closes).
# Without a display, acerto says so and how to run it under Xvfb (xvfb-run -a scripts/run.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target acerto acerto-server qlm01200
exec build/gui/acerto --demo "$@"
