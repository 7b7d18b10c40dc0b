#!/bin/sh
# Installs the Debian packages that building and testing need, once: nothing happens when they are there.
set -e
packages="cmake make g++ g++-mingw-w64-i686 wine wine32:i386 doctest-dev xvfb xauth imagemagick fonts-ipafont-gothic gzip"
missing=""
for package in $packages; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing="$missing $package"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
if [ "$(id -u)" != 0 ]; then SUDO=sudo; else SUDO=; fi
dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
