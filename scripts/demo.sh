#!/bin/sh
# The main job: builds the publisher's tool and packs the bundled example update folder, then lists and
# verifies the archive.
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/release -j"$(nproc)" --target updpack >build/release-build.log 2>&1 || { tail -n 60 build/release-build.log; exit 1; }
tool=build/release/bin/updpack
mkdir -p build/demo
echo "== Packing examples/update"
$tool create build/demo/update.kt2 examples/update
echo "== Contents"
$tool list build/demo/update.kt2
echo "== Verifying"
$tool test build/demo/update.kt2
