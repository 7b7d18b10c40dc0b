#!/bin/bash
# The planted-DLL test under Wine, over a whole update: archive files written, a file copied from the disc
# and a folder of it merged into the installation (whole-update/, an end-to-end scenario). First the update
# runs under Wine's loader trace, which names every library the updater's process loads. Then a marker DLL
# (planted_marker.cpp) lies beside update.exe under each of those names, and Wine is told to prefer a
# native copy of every one of them, as Windows searches the program's folder first: the update must
# complete as before, and no marker may be loaded. Left out are the names Wine loads only as its own:
# ntdll, kernel32, kernelbase and win32u. Last, a probe without protection (planted_probe.cpp) loads each
# planted name from the same folder: every marker must leave its mark there, else the test proves nothing.
# Usage: planted-dlls.sh TEMPLATE_PREFIX WINDOWS_BUILD_DIR UPDPACK WORK_DIR
set -u
template=$1
windows=$2
updpack=$3
work=$4
here=$(cd "$(dirname "$0")" && pwd)
run_scenario=$here/../../e2e/run-scenario.sh
scripts=$(cd "$here/../../../scripts" && pwd)
excluded="ntdll kernel32 kernelbase win32u"

fail() {
    echo "planted-dlls: $*" >&2
    exit 1
}

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
marker=$windows/planted/planted-marker.dll
probe=$windows/bin/planted_probe.exe
[ -f "$marker" ] && [ -f "$probe" ] || fail "missing $marker or $probe (build the Windows targets)"

# The libraries of the updater's process, from the trace of a run without plants.
UPDATER_WINEDEBUG=+pid,+loaddll E2E_KEEP_WORK=1 "$run_scenario" "$here/whole-update" "$work/traced" "$template" \
    "$windows/bin" "$updpack" >"$work/traced.log" 2>&1 || fail "the update without plants failed: $(tail -5 "$work/traced.log")"
trace=$work/traced/driver.stderr
pid=$(grep -a 'trace:loaddll:.*Loaded L"C:\\\\updater\\\\update.exe"' "$trace" | head -1 | cut -d: -f1)
[ -n "$pid" ] || fail "the loader's trace names no update.exe"
loaded=$(grep -a "^$pid:[^:]*:trace:loaddll:.*Loaded L\"" "$trace" | sed 's/.*Loaded L"\([^"]*\)".*/\1/; s/.*\\//' |
    tr 'A-Z' 'a-z' | grep '\.dll$' | sed 's/\.dll$//' | sort -u | tr '\n' ' ')
planted=""
for name in $loaded; do
    case " $excluded " in *" $name "*) ;; *) planted="$planted $name" ;; esac
done
# What the updater calls must be among them, or the trace was not read as meant.
for name in user32 advapi32 shell32 ole32 msvcrt; do
    case " $planted " in *" $name "*) ;; *) fail "the trace lacks $name.dll: $loaded" ;; esac
done
echo "loaded by update.exe during the update: $loaded"
echo "not planted (Wine loads them only as its own): $excluded"
echo "planted beside update.exe, native preferred:$planted"

cat >"$work/plant.sh" <<EOF
for name in $planted; do cp "$marker" "\$installer_dir/\$name.dll" || fail "cannot plant \$name.dll"; done
cp "$probe" "\$installer_dir/planted_probe.exe" || fail "cannot copy the probe"
EOF
overrides="$(echo $planted | tr ' ' ',')=n,b"
UPDATER_WINEDLLOVERRIDES=$overrides E2E_BEFORE_RUN=$work/plant.sh E2E_KEEP_WORK=1 "$run_scenario" "$here/whole-update" \
    "$work/planted" "$template" "$windows/bin" "$updpack" >"$work/planted.log" 2>&1 ||
    fail "the update beside the plants failed: $(grep -v '^file check' "$work/planted.log" | tail -8)"
folder=$work/planted/prefix/drive_c/updater
marks=$folder/planted-dlls-loaded.txt
[ ! -e "$marks" ] || fail "the updater loaded planted DLLs: $(tr -d '\r' <"$marks")"
echo "the update completed, and no planted DLL was loaded"

(cd "$folder" && UPDATER_WINEDLLOVERRIDES=$overrides "$scripts/wine-run.sh" "$work/planted/prefix" \
    'C:\updater\planted_probe.exe' $planted >"$work/probe.log" 2>&1)
status=$?
. "$scripts/wine-env.sh"
wine_env "$(wine_prefix_route "$work/planted/prefix")" "$work/planted/prefix" && "$wine_server" -k >/dev/null 2>&1
for name in $planted; do
    grep -qiF "C:\\updater\\$name.dll loaded by C:\\updater\\planted_probe.exe" "$marks" 2>/dev/null ||
        fail "the probe without protection did not load the planted $name.dll (status $status), so the plants prove nothing"
done
echo "the probe without protection loaded every planted DLL (status $status)"
rm -rf "$work"
echo "planted-dlls: passed"
