#!/usr/bin/env bash
# Installs the Debian packages Teloria needs, for one purpose:
#   install-deps.sh run    building and running the programs (the default)
#   install-deps.sh test   that, and what the tests need (make test)
#   install-deps.sh bench  that, and what the benchmarks need (make bench)
# Idempotent: does nothing when all of them are present. Waits up to 10 minutes
# for another package manager to release the package database.
set -euo pipefail

purpose="${1:-run}"

run_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-qpa-plugins libgl-dev
  libcurl4-openssl-dev libicu-dev
  libsqlite3-dev
  libphonenumber-dev libprotobuf-dev libboost-dev
  libmicrohttpd-dev
  qt6-charts-dev libqt6opengl6-dev libxlsxwriter-dev libminizip-dev
  fonts-wqy-microhei
)
# The loopback servers of the tests (cpp-httplib and what it links), GoogleTest,
# a display for the window tests where no offscreen platform will do, and
# valgrind, which sees inside libcurl where the sanitizers do not.
test_packages=(
  libcpp-httplib-dev libssl-dev zlib1g-dev libbrotli-dev
  libgtest-dev libgmock-dev
  xvfb xauth x11-apps
  valgrind
)
# Google Benchmark, the reference servers and load tools of make bench, and
# the screenshots of the window benchmark.
bench_packages=(
  libcpp-httplib-dev libssl-dev zlib1g-dev libbrotli-dev
  libbenchmark-dev
  xvfb xauth x11-apps imagemagick wrk time nginx
)

case "$purpose" in
  run) packages=("${run_packages[@]}") ;;
  test) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  bench) packages=("${run_packages[@]}" "${bench_packages[@]}") ;;
  *) echo "usage: $0 [run|test|bench]" >&2; exit 2 ;;
esac

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
# Another apt or dpkg (an unattended upgrade, a second make) may hold the lock: wait for it.
lock_wait=(-o DPkg::Lock::Timeout=600)
$sudo apt-get "${lock_wait[@]}" update -qq
$sudo apt-get "${lock_wait[@]}" install -y -qq --no-install-recommends "${missing[@]}"
