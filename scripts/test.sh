#!/bin/sh
# Every test: installs what is missing, builds the native code (with AddressSanitizer and
# UndefinedBehaviorSanitizer) and the Windows programs, then runs all tests natively and under Wine.
# ctest's summary is the last thing printed.
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DUPDATER_SANITIZE=ON >/dev/null
cmake --build build/test -j"$jobs" >build/test-build.log 2>&1 || { tail -n 60 build/test-build.log; exit 1; }
exec ctest --test-dir build/test --output-on-failure -j"$jobs"
