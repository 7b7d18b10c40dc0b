# Sourced by the Wine scripts: the environment of one route (scripts/wine-route.sh) and one prefix. The
# loaders and servers are called directly: Debian's `wine` wrapper always prefers the 32-bit loader, which
# cannot open a 64-bit prefix and cannot start at all where 32-bit programs do not run.
# wine_env ROUTE PREFIX  sets wine_loader and wine_server and exports what Wine reads; returns 1 (with a
#                        message) for a route without Wine
# wine_prefix_route PREFIX  prints the route a prefix was made for (scripts/wine-prefix.sh records it)
wine_env() {
    # UPDATER_WINE_LIBDIR: only for the tests of these scripts, which stand in a loader that fails.
    wine_libdir=${UPDATER_WINE_LIBDIR:-/usr/lib/wine}
    case "$1" in
    i686)
        wine_loader=$wine_libdir/wine
        wine_server=$wine_libdir/wineserver32
        WINEARCH=win32
        ;;
    x86_64)
        wine_loader=$wine_libdir/wine64
        wine_server=$wine_libdir/wineserver64
        WINEARCH=win64
        ;;
    *)
        echo "wine: no Wine route on this host (\"$1\"); see scripts/wine-route.sh" >&2
        return 1
        ;;
    esac
    # WINELOADER and WINESERVER: the programs Wine itself starts (other processes, the server) use the
    # same architecture's binaries. UPDATER_WINEDEBUG and UPDATER_WINEDLLOVERRIDES reach every program the
    # scripts start, for the tests that watch or steer the loader (tests/app/dll_guard).
    export WINEPREFIX="$2" WINEARCH WINELOADER="$wine_loader" WINESERVER="$wine_server" \
        WINEDEBUG="${UPDATER_WINEDEBUG:--all}" \
        WINEDLLOVERRIDES="mscoree,mshtml=${UPDATER_WINEDLLOVERRIDES:+;$UPDATER_WINEDLLOVERRIDES}" LC_ALL=ja_JP.UTF-8
}

wine_prefix_route() {
    if [ -f "$1/.route" ]; then cat "$1/.route"; else echo i686; fi
}
