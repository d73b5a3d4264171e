#!/bin/sh
# Installs the Debian packages the build and the tests need, only when one is missing.
set -e
PACKAGES="build-essential cmake pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
libsqlite3-dev libzip-dev zlib1g-dev libdeflate-dev libsimpleini-dev qt6-base-dev libqt6svg6 \
zip unzip xvfb"
missing=""
for package in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
    || missing="$missing $package"
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q $missing
fi
