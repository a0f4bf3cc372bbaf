#!/usr/bin/env bash
# Installs the Debian packages the project needs. Idempotent and quiet when
# everything is already there.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config ccache
  libxml2-dev libcurl4-openssl-dev libssl-dev libfmt-dev
  libsdbus-c++-dev libsdbus-c++-bin libsystemd-dev
  dbus dbus-daemon dbus-bin libglib2.0-bin python3-dbus python3-gi
  libmariadb-dev mariadb-server mariadb-client socat nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  adduser util-linux  # the package test: the service user, setpriv
  libcpp-httplib-dev python3-prometheus-client  # the web server; its /metrics test parses with the Prometheus parser
  chromium  # the web console's browser test (DevTools over --remote-debugging-pipe, python3 stdlib only)
)

missing=()
for p in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
$SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
