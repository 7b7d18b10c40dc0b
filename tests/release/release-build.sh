#!/bin/sh
# The native code as the demonstration and an install build it: optimised (Release), where GCC finds
# warnings that the tests' unoptimised build does not (maybe-uninitialized, overflow), and warnings are
# errors there too. The Windows programs are built Release by every build already.
# Usage: release-build.sh SOURCE_DIR BUILD_DIR
set -u
source=$1
build=$2
cmake -S "$source" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DUPDATER_WINDOWS_BUILD=OFF \
    >"$build.log" 2>&1 || { cat "$build.log"; echo "release-build: configuring failed"; exit 1; }
if ! cmake --build "$build" -j2 >>"$build.log" 2>&1; then
    grep -E "error|warning" "$build.log" | head -20
    echo "release-build: the optimised build failed (whole log: $build.log)"
    exit 1
fi
echo "release-build: passed"
