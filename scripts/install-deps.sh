#!/usr/bin/env bash
# Installs every Debian package Teloria needs to build, test, run and benchmark.
# Idempotent: does nothing when all of them are present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-qpa-plugins libgl-dev
  libcurl4-openssl-dev libicu-dev
  libsqlite3-dev
  libphonenumber-dev libprotobuf-dev libboost-dev
  libcpp-httplib-dev libssl-dev zlib1g-dev libbrotli-dev
  libmicrohttpd-dev
  qt6-charts-dev libqt6opengl6-dev libxlsxwriter-dev libminizip-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-wqy-microhei
  xvfb xauth x11-apps imagemagick wrk time nginx
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
