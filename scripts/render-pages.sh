#!/bin/bash
# Renders the updater's wizard pages into docs/images/*.png for docs/wizard.md: runs the scenarios of
# tests/e2e/render/ under Xvfb with Wine's X11 driver (the tests use the null driver) and takes a screenshot
# of the wizard window at each "snapshot" step of their scripts.
# Usage: scripts/render-pages.sh [BUILD_DIR]   (default build/test; it must hold the native updpack and
# the Windows programs of its Wine route, as scripts/test.sh leaves them)
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(cd "${1:-build/test}" && pwd)
updpack=$build/bin/updpack
route=$(cut -d' ' -f1 "$build/wine-route.txt" 2>/dev/null) || route=""
case "$route" in
i686) bin=$build/windows/bin ;;
x86_64) bin=$build/windows-x86_64/bin ;;
*)
    echo "render-pages: no Wine route in $build ($(cat "$build/wine-route.txt" 2>/dev/null || echo "not configured"))" >&2
    exit 1
    ;;
esac
template=$build/tests/e2e/template-prefix
out=$root/docs/images
[ -x "$updpack" ] && [ -f "$bin/update.exe" ] && [ -f "$bin/e2e_driver.exe" ] || {
    echo "render-pages: build first: $updpack and $bin/{update,e2e_driver,e2e_game,e2e_set_archive}.exe" >&2
    exit 1
}
scripts/wine-prefix.sh "$template" "$route"
mkdir -p "$out"

# One scenario on the display $DISPLAY: the driver asks for each picture with NAME.request (the window's
# rectangle) and goes on when NAME.done exists.
render() {
    local scenario=$1 snaps=$build/render/snaps-$1 request name x y w h status
    rm -rf "$snaps"
    mkdir -p "$snaps"
    E2E_GRAPHICS=x11 E2E_SNAPSHOT_DIR=$snaps tests/e2e/run-scenario.sh "tests/e2e/render/$scenario" \
        "$build/render/$scenario" "$template" "$bin" "$updpack" >"$build/render/$scenario.log" 2>&1 &
    local runner=$!
    while kill -0 "$runner" 2>/dev/null; do
        for request in "$snaps"/*.request; do
            [ -f "$request" ] || continue
            name=$(basename "$request" .request)
            read -r x y w h <"$request"
            import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$name.png"
            echo "render-pages: docs/images/$name.png (${w}x${h})"
            rm -f "$request"
            touch "$snaps/$name.done"
        done
        sleep 0.2
    done
    wait "$runner" && status=0 || status=$?
    if [ "$status" -ne 0 ]; then
        cat "$build/render/$scenario.log" >&2
        return 1
    fi
}

if [ -z "${RENDER_PAGES_INNER:-}" ]; then
    mkdir -p "$build/render"
    exec xvfb-run -a -s "-screen 0 1024x768x24" env RENDER_PAGES_INNER=1 "$0" "$build"
fi
render start
render agreement
