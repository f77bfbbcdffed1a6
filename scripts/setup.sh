#!/usr/bin/env bash
# Installs every Debian package the project needs to build, run and test. Safe to run again:
# it installs only what is missing and touches the package lists only when it must install.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git
    qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libgl-dev libxcb1-dev
    libcurl4-openssl-dev libicu-dev libxml2-dev libsqlite3-dev zlib1g-dev libpng-dev
    nlohmann-json3-dev libcpp-httplib-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev clang-format
    dbus dbus-x11 xvfb xauth x11-utils xdotool openbox
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
