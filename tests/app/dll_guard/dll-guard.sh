#!/bin/sh
# The planted-DLL test under Wine. A DLL named like one that a system library loads at run time
# ("uxtheme.dll", which CoInitialize loads) lies beside the program, and Wine is told to prefer a native
# copy of it (WINEDLLOVERRIDES "uxtheme=n,b"), as Windows prefers the program's folder. First the
# program's first steps without the restriction must load it (else this test proves nothing), then the
# same steps with it, and the real update.exe, must not.
# Usage: dll-guard.sh PREFIX WINDOWS_BUILD_DIR WORK_DIR
set -u
prefix=$1
windows=$2
work=$3
marker=$work/app/planted-dll-loaded.txt

fail() {
    echo "dll-guard: $*" >&2
    exit 1
}

rm -rf "$work"
mkdir -p "$work/app" || fail "cannot create $work/app"
cp "$windows/bin/update.exe" "$windows/bin/dll_guard_probe.exe" "$windows/planted/uxtheme.dll" "$work/app/" ||
    fail "missing Windows programs (build the Windows targets)"

. "$(cd "$(dirname "$0")/../../../scripts" && pwd)/wine-env.sh"
wine_env "$(wine_prefix_route "$prefix")" "$prefix" || fail "no Wine route for $prefix"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;uxtheme=n,b"

run() { # PROGRAM [ARGUMENT]: runs it from its folder with the planted DLL preferred; prints its status
    (cd "$work/app" && "$wine_loader" "$@" >/dev/null 2>&1)
    echo $?
}

status=$(run dll_guard_probe.exe no-guard)
[ -f "$marker" ] || fail "without the restriction the planted DLL was not loaded (status $status): nothing is shown"
printf "without the restriction: the planted DLL was loaded by %s\n" "$(head -1 "$marker" | tr -d "\r")"
rm -f "$marker"

status=$(run dll_guard_probe.exe guard)
[ "$status" = 0 ] || fail "the probe with the restriction ended with status $status"
[ ! -f "$marker" ] || fail "with the restriction the planted DLL was still loaded"
echo "with the restriction: not loaded"

# The program without an archive ends at once, after its first steps, with status 0.
status=$(run update.exe)
[ "$status" = 0 ] || fail "update.exe ended with status $status"
[ ! -f "$marker" ] || fail "update.exe loaded the planted DLL from its folder"
echo "update.exe: not loaded"
rm -rf "$work"
