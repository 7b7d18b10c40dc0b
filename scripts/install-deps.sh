#!/bin/sh
# Installs the Debian packages that building and testing need, once: nothing happens when they are there.
set -e
packages="locales cmake make g++ g++-mingw-w64-i686 wine wine32:i386 doctest-dev xvfb xauth imagemagick fonts-ipafont-gothic gzip clang libclang-rt-14-dev"
missing=""
for package in $packages; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing="$missing $package"
done
if [ "$(id -u)" != 0 ]; then SUDO=sudo; else SUDO=; fi
# Wine runs in the Japanese UTF-8 locale (scripts/wine-run.sh): without it Wine can still show code page
# 932 text, but cannot name a Unix file with anything beyond ASCII, so Japanese file names fail.
japanese_locale() {
  locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\{0,1\}8' || $SUDO localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
}
if [ -z "$missing" ]; then japanese_locale; exit 0; fi
echo "Installing:$missing"
dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
japanese_locale
