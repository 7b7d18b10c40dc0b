#!/bin/sh
# Every test: installs what is missing, builds the native code (with AddressSanitizer and
# UndefinedBehaviorSanitizer) and the Windows programs, then runs all tests natively and under Wine on the
# route this host takes (scripts/wine-route.sh; UPDATER_WINE_ROUTE=i686|x86_64|none forces one).
# ctest's summary is the last thing printed; its label wine-ROUTE names the route the Wine tests took.
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
mkdir -p build
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DUPDATER_SANITIZE=ON \
    -DUPDATER_WINE_ROUTE="${UPDATER_WINE_ROUTE:-}" >build/test-configure.log 2>&1 ||
    { tail -n 30 build/test-configure.log; echo "FAILED: configuring build/test (whole log: build/test-configure.log)"; exit 1; }
route=$(cat build/test/wine-route.txt)
case "$route" in
none*) echo "Wine route: none (${route#* }): the Wine tests are reported as skipped" ;;
*) echo "Wine route: ${route%% *} (${route#* })" ;;
esac
cmake --build build/test -j"$jobs" >build/test-build.log 2>&1 ||
    { tail -n 60 build/test-build.log; echo "FAILED: building build/test (whole log: build/test-build.log)"; exit 1; }
exec ctest --test-dir build/test --output-on-failure -j"$jobs"
