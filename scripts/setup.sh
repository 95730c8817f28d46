#!/usr/bin/env bash
# Installs every build and test dependency from Debian's packages. Idempotent: when everything
# is already installed it only checks and returns in a second or two.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format clang libclang-rt-14-dev
  nlohmann-json3-dev libboost-dev libsimdjson-dev libcpp-httplib-dev libsqlite3-dev libsqlitecpp-dev libpqxx-dev
  qt6-base-dev libcli11-dev libspdlog-dev libfmt-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libssl-dev openssl
  postgresql sqlite3 curl xvfb xauth desktop-file-utils poppler-utils
  qt6-translations-l10n adwaita-icon-theme fonts-liberation2 openbox xdotool
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all dependencies present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: done"
