#!/usr/bin/env bash
# Installs every Debian package the relay, its tools and its tests need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config clang clang-format libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libgl1-mesa-dev qt6-websockets-dev qt6-httpserver-dev
  unixodbc unixodbc-dev odbc-postgresql libsystemd-dev
  # the outboxes' CRC-32
  zlib1g-dev
  # the relay's metrics, and the parser the tests read them back with
  prometheus-cpp-dev python3-prometheus-client
  lintian systemd
  # the browser feed's TLS tests make a certificate authority of their own
  openssl
  postgresql postgresql-client
  # the event stream: rabbitmq-c to publish, and a broker for its tests
  librabbitmq-dev rabbitmq-server
  libgtest-dev libgmock-dev
  # the browser suite drives the relay's pages in headless Chromium
  chromium chromium-driver
  fonts-nanum xvfb xauth x11-apps imagemagick
  openbox trayer xdotool x11-utils
  # the disk-fault tests put the state directory on a tmpfs and on a loop-mounted ext4 image
  e2fsprogs mount util-linux
  # to build the Asterisk PBX that the PBX bridge's tests run (scripts/asterisk.sh)
  libedit-dev libjansson-dev libxml2-dev uuid-dev libsqlite3-dev libssl-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update -qq
echo "installing: ${missing[*]}"
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
