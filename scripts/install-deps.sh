#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when any is missing.
# apt-get update runs only when something has to be installed.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libfuse3-dev fuse3
  libcurl4-openssl-dev curl
  nlohmann-json3-dev
  libssl-dev openssl
  libicu-dev
  libsqlite3-dev sqlite3
  libcpp-httplib-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  rsync
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
