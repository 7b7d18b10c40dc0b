#!/bin/sh
# Installs the Debian packages that building and testing need, once: nothing happens when they are there.
# Wine comes for the route scripts/wine-route.sh decides: the 32-bit loader (wine32:i386) where this host
# executes 32-bit programs, the 64-bit one (wine64) and the x86_64 cross compiler where it does not.
set -e
cd "$(dirname "$0")/.."
packages="locales cmake make g++ g++-mingw-w64-i686 doctest-dev xvfb xauth imagemagick fonts-ipafont-gothic gzip zlib1g-dev liblz4-dev clang libclang-rt-14-dev"
# The x86_64 cross compiler on every host too: the resource writer's tests take a real 64-bit program through it.
packages="$packages g++-mingw-w64-x86-64"
# updpack makes patches over libdivsufsort's suffix arrays.
packages="$packages libdivsufsort-dev"
# The tests read the tool's JSON with Python's parser and sign a built updater with a test certificate.
packages="$packages python3 osslsigncode openssl"
decision=$(scripts/wine-route.sh --before-install)
case "$decision" in
i686*) packages="$packages wine wine32:i386" ;;
x86_64*) packages="$packages wine wine64" ;;
*) echo "install-deps: no Wine for this host: ${decision#* }" ;;
esac
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
case "$missing" in
*:i386*) dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386 ;;
esac
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
japanese_locale
