#!/bin/bash
# The main job, end to end: builds and installs updpack with its updater stub, builds the example updater
# from examples/update with `updpack build` (every write mode, an install-variant filter, an agreement and
# a CD-ROM copy), installs an example game into a fresh Wine prefix (registry, SETUP.INI, files, a CD-ROM
# drive holding disk 1), shows what `updpack plan` says the update will do, runs the updater headless through
# every page with the end-to-end driver, and shows what changed on disk, whether the plan agreed, and the
# exit status. Then the next release the publisher's way: `updpack diff` of two release folders and
# `updpack build --base`, an updater that carries patches, run against the game the first update left. Run
# from anywhere, as root on Debian 12; everything it makes
# lies under build/ (build/release, build/demo). The updater runs as an i686 program where this host
# executes 32-bit programs and as an x86_64 one where it does not (scripts/wine-route.sh; UPDATER_WINE_ROUTE
# forces either); the stub that is installed and ships is the i686 one on every host.
set -eEu -o pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
# No step ends the job in silence: whatever fails says what it was.
trap 'echo "FAILED: line $LINENO of scripts/demo.sh: $BASH_COMMAND (exit status $?)"' ERR
scripts/install-deps.sh
decision=$(scripts/wine-route.sh)
route=${decision%% *}
why=${decision#* }
if [ "$route" = none ]; then
    echo "The demonstration cannot run here: no Wine can run its updater ($why)."
    trap - ERR
    exit 1
fi

demo=$root/build/demo
release=$root/build/release
log=$demo/build.log
mkdir -p "$demo"
: >"$log"

say() { printf '\n== %s\n' "$*"; }
quietly() { # runs a build step, showing its log only when it fails
    "$@" >>"$log" 2>&1 || {
        tail -n 40 "$log"
        echo "FAILED: $* (whole log: $log)"
        exit 1
    }
}

say "The updater's architecture: $route ($why)"
if [ "$route" = i686 ]; then
    echo "   the updater runs as the 32-bit program that ships, in a 32-bit Wine prefix"
else
    echo "   the updater is built on the 64-bit stub and runs in a 64-bit Wine prefix; the stub that ships stays i686"
fi

say "Building updpack and its updater stub (native tool, Windows stub with mingw-w64), and installing them"
quietly cmake -S . -B "$release" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DUPDATER_WINDOWS_BUILD=ON \
    -DUPDATER_WINE_ROUTE="$route"
quietly cmake --build "$release" -j2 --target updpack updpack_stub
quietly cmake --install "$release" --prefix "$release/install"
# The end-to-end driver plays the user; it is a test program of the Windows build, of the route's
# architecture, as is the stub of the x86_64 route.
quietly cmake -S . -B "$release/driver-$route" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$route.toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON
quietly cmake --build "$release/driver-$route" -j2 --target e2e_driver update
updpack=$release/install/bin/updpack
bin=$release/driver-$route/bin
stub=()
[ "$route" = i686 ] || stub=(--stub "$bin/update.exe")
echo "   $updpack"
echo "   $release/install/bin/update-stub.exe ($(stat -c %s "$release/install/bin/update-stub.exe") bytes, the updater without an archive)"
[ "$route" = i686 ] || echo "   $bin/update.exe ($(stat -c %s "$bin/update.exe") bytes, the 64-bit stub of this run)"

say "Building the example updater: updpack build update.exe examples/update${stub:+ ${stub[*]}}"
sed -n '/^\[UPDATE\]/,$p' examples/update.ini.utf8 | sed 's/^/   /'
rm -f "$demo/update.exe"
"$updpack" build "$demo/update.exe" examples/update "${stub[@]}" | sed 's/^/   /'
"$updpack" list "$demo/update.exe" | sed 's/^/   /'

# ---- the example installation ---------------------------------------------------------------------------
prefix=$demo/prefix
. scripts/wine-env.sh
wine_env "$route" "$prefix"
wine_run() { "$root/scripts/wine-run.sh" "$prefix" "$@"; }
game=$prefix/drive_c/SampleGame
cdrom=$demo/cdrom

say "Preparing a fresh Wine prefix with the installed example game"
"$wine_server" -k >/dev/null 2>&1 || true
rm -rf "$prefix" "$cdrom"
"$root/scripts/wine-prefix.sh" "$prefix" "$route"
# Drive D: is a CD-ROM drive holding disk 1 of the game; Wine reads the drive types once, at its start.
mkdir -p "$cdrom/movie"
printf 'SAMPLE GAME DISK 1\r\n' >"$cdrom/SAMPLE1.CHK"
head -c 3000 /dev/zero | tr '\0' 'O' >"$cdrom/movie/opening.mpg"
head -c 2000 /dev/zero | tr '\0' 'E' >"$cdrom/movie/ending.mpg"
ln -sfn "$cdrom" "$prefix/dosdevices/d:"
printf '\n[Software\\\\Wine\\\\Drives] 1700000000\n"d:"="cdrom"\n' >>"$prefix/system.reg"

to_cp932() { sed 's/\r$//; s/$/\r/' | iconv -f UTF-8 -t CP932; }
mkdir -p "$game/save" "$game/movie"
to_cp932 >"$game/SETUP.INI" <<'EOF'
; Written by the game's installer.
[SETUP]
CompanyName=ExampleSoft
GameTitle=サンプルゲーム
GameDir=SampleGame
GameExe=game.exe
UninstExe=uninst.exe
SetupBmp=setup.bmp
InstallSelects=2
InstallTitle0=通常インストール
InstallFiles0=game.exe,data1.dat
InstallTitle1=フルインストール
InstallFiles1=game.exe,data1.dat,voice.dat
Shortcuts=0
GameClass=SampleGameWindow
DiskCheckFile1=SAMPLE1.CHK
EOF
# The installed files, a month old; the player's save and settings differ from the update's copies.
printf 'MZ sample game 1.00\r\n' >"$game/game.exe"
head -c 1000 /dev/zero | tr '\0' 'd' >"$game/data1.dat"
# The game's data pack, as release 1.00 installed it (the first update leaves it as it is).
make_pack() { # RELEASE OUT: 48 members of 64 KiB; the next release changes one, inserts one, drops one
    python3 - "$1" "$2" <<'PYTHON'
import random, sys
release, out = int(sys.argv[1]), sys.argv[2]
members = [random.Random(n).randbytes(65536) for n in range(48)]
if release > 1:
    members[10] = members[10][:1000] + b"stage 8 unlocked" * 16 + members[10][1256:]
    members.insert(20, random.Random(100).randbytes(30000))
    del members[31]
open(out, "wb").write(b"".join(members))
PYTHON
}
make_pack 1 "$game/pack.dat"
printf 'player save: stage 7, 12345 points\r\n' >"$game/save/save00.dat"
printf 'volume=3\r\nfullscreen=1\r\n' >"$game/config.dat"
head -c 3000 /dev/zero | tr '\0' 'o' >"$game/movie/opening.mpg"
printf 'notes of the player\r\n' >"$game/movie/notes.txt"
find "$game" -type f -exec touch -d '30 days ago' {} +

# The installer's registry key; InstMode 0 is the standard installation, so voice.dat (filter 2) stays out.
{
    printf '\xff\xfe'
    to_cp932 <<'EOF' | iconv -f CP932 -t UTF-16LE
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\ExampleSoft\SampleGame]
"InstPath"="C:\\SampleGame"
"DataPath"="C:\\SampleGame\\save"
"InstMode"=dword:00000000
"InstAdd"=dword:00000000
EOF
} >"$demo/registry.reg"
wine_run regedit /S "Z:$demo/registry.reg" >"$demo/regedit.log" 2>&1 || {
    echo "FAILED: regedit could not import the game's registry key (output: $demo/regedit.log)"
    exit 1
}
echo "   registry HKCU\\Software\\ExampleSoft\\SampleGame: InstPath C:\\SampleGame, DataPath C:\\SampleGame\\save, InstMode 0"
echo "   C:\\SampleGame\\SETUP.INI, the game's files, drive D: (CD-ROM) with SAMPLE1.CHK and movie\\"

say "What the update will do, before it runs: updpack plan update.exe C:\\SampleGame --data C:\\SampleGame\\save --cdrom D:"
# The plan runs natively, with the updater's own rules, over the same folders Wine shows as C: and D:.
. tests/e2e/plan-snapshot.sh
plan_snapshot "$game" >"$demo/plan-before.txt"
"$updpack" plan "$demo/update.exe" "$game" --data "$game/save" --cdrom "$cdrom" | sed "s|$prefix/drive_c|C:|g; s|$cdrom|D:|g; s/^/   /"
"$updpack" plan "$demo/update.exe" "$game" --data "$game/save" --cdrom "$cdrom" --json >"$demo/plan.json"

mkdir -p "$prefix/drive_c/updater"
cp "$demo/update.exe" "$prefix/drive_c/updater/update.exe"
echo "   C:\\updater\\update.exe ($(stat -c %s "$prefix/drive_c/updater/update.exe") bytes)"

# ---- the run ---------------------------------------------------------------------------------------------
listing() { # one line per file: path, size, time, content digest
    (cd "$game" && find . -type f | LC_ALL=C sort | while read -r file; do
        printf '%s\t%s\t%s\t%s\n' "${file#./}" "$(stat -c %s "$file")" \
            "$(date -u -d "@$(stat -c %Y "$file")" '+%F %T')" "$(sha1sum <"$file" | cut -c1-12)"
    done)
}
listing >"$demo/before.txt"

cat >"$demo/script" <<'EOF'
start
expect-page template=101 caption="サンプルゲーム アップデータ 1.01" info-starts="サンプルゲーム アップデートプログラム Ver1.01" next=disabled disagree-check=checked
click agree
expect-page next=enabled agree-check=checked
click next
expect-page info="アップデートを実行します" next=enabled back=disabled cancel=enabled agreement=hidden
click next
expect-page info="アップデートは完了しました" next=enabled next-caption="完了" back=disabled cancel=disabled timeout=60000
click next
expect-exit 1
EOF
drive() { # SCRIPT UPDATER STDERR: the driver plays the script against the updater; its status in $status
    set +e
    trap - ERR
    wine_run "$bin/e2e_driver.exe" "Z:$1" "$2" 2>"$3" | sed 's/^step [0-9]*: /   /; s/^PASS .*/   every page as expected/'
    status=${PIPESTATUS[0]}
    set -e
    trap 'echo "FAILED: line $LINENO of scripts/demo.sh: $BASH_COMMAND (exit status $?)"' ERR
    "$wine_server" -k >/dev/null 2>&1 || true
}
say "Running update.exe under Wine, headless, driven through every page"
echo "   (agreement → 同意する → 次へ → confirmation → 次へ → update → 完了)"
drive "$demo/script" 'C:\updater\update.exe' "$demo/driver.stderr"
listing >"$demo/after.txt"

say "What changed in C:\\SampleGame (sizes in bytes, times UTC)"
join -t "$(printf '\t')" -a1 -a2 -e - -o 0,1.2,1.3,1.4,2.2,2.3,2.4 \
    <(sort "$demo/before.txt") <(sort "$demo/after.txt") |
    while IFS="$(printf '\t')" read -r file size1 time1 sum1 size2 time2 sum2; do
        if [ "$size1" = - ]; then
            what="new"
        elif [ "$sum1" != "$sum2" ]; then
            what="replaced"
        elif [ "$time1" != "$time2" ]; then
            what="content kept, new time"
        else
            what="unchanged"
        fi
        before="-"
        [ "$size1" = - ] || before="$size1  $time1"
        printf '   %-23s %-27s -> %-27s %s\n' "$what" "$before" "$size2  $time2" "$file"
    done
echo "   (voice.dat is for installation variant 2 only; this installation is variant 0, so it is left out)"

if [ "$status" -ne 0 ]; then
    sed 's/^/   /' "$demo/driver.stderr" | grep -v 'fixme\|err:' | tail -n 20
    echo
    echo "FAILED: the updater did not run through to \"完了\" with exit status 1 (driver status $status)"
    exit 1
fi

say "The plan against the run: every verdict of updpack plan held against what changed on disk"
plan_snapshot "$game" >"$demo/plan-after.txt"
if python3 tests/e2e/plan_agreement.py "$demo/plan.json" "$demo/plan-before.txt" "$demo/plan-after.txt" completes \
    >"$demo/plan-agreement.txt" 2>&1; then
    echo "   the plan agreed with the run: $(tail -n 1 "$demo/plan-agreement.txt")"
else
    sed 's/^/   /' "$demo/plan-agreement.txt"
    echo "FAILED: updpack plan disagreed with what the updater did"
    exit 1
fi
echo "   update.exe exit status: 1 (the run reached \"完了\"; the driver checked the status)"

# ---- the next release, as patches ------------------------------------------------------------------------
# Release 1.01 is what the installation and the first update left: its game.exe and data1.dat, and the
# data pack. Release 1.02 changes game.exe and the pack, and adds a stage.
releases=$demo/releases
rm -rf "$releases" "$demo/update-1.02"
mkdir -p "$releases/1.01" "$releases/1.02" "$demo/update-1.02"
cp examples/update/game.exe examples/update/data1.dat "$releases/1.01/"
make_pack 1 "$releases/1.01/pack.dat"
cp "$releases/1.01/data1.dat" "$releases/1.02/"
printf 'MZ sample game 1.02\r\n' >"$releases/1.02/game.exe"
make_pack 2 "$releases/1.02/pack.dat"
printf 'stage 8\r\n' >"$releases/1.02/stage8.dat"
to_cp932 >"$demo/setup-1.02.ini" <<'EOF'
[SETUP]
CompanyName=ExampleSoft
GameTitle=サンプルゲーム
GameClass=SampleGameWindow
GameDir=SampleGame
UpdaterVersion=1.02
EOF
say "The next release: updpack diff releases/1.01 releases/1.02 update-1.02 --setup setup-1.02.ini"
"$updpack" diff "$releases/1.01" "$releases/1.02" "$demo/update-1.02" --setup "$demo/setup-1.02.ini" 2>&1 |
    sed "s|$demo/||g; s/^/   /"
iconv -f CP932 -t UTF-8 "$demo/update-1.02/UPDATE.INI" | sed 's/\r$//; s/^/   /'
say "Its updater, with patches against release 1.01: updpack build update-1.02.exe update-1.02 --base releases/1.01"
rm -f "$demo/update-1.02.exe" "$demo/whole-1.02.exe"
"$updpack" build "$demo/update-1.02.exe" "$demo/update-1.02" --base "$releases/1.01" "${stub[@]}" |
    sed "s|$demo/||g; s/^/   /"
"$updpack" list "$demo/update-1.02.exe" | sed 's/^/   /'
"$updpack" build "$demo/whole-1.02.exe" "$demo/update-1.02" "${stub[@]}" >/dev/null
echo "   the same update with whole files: $(stat -c %s "$demo/whole-1.02.exe") bytes; with patches:" \
    "$(stat -c %s "$demo/update-1.02.exe") bytes"

say "What it will do: updpack plan update-1.02.exe C:\\SampleGame"
"$updpack" plan "$demo/update-1.02.exe" "$game" --data "$game/save" | sed "s|$prefix/drive_c|C:|g; s/^/   /"
cp "$demo/update-1.02.exe" "$prefix/drive_c/updater/update-1.02.exe"
cat >"$demo/script-1.02" <<'EOF'
start
expect-page template=100 caption="サンプルゲーム アップデータ 1.02" next=enabled
click next
expect-page info="アップデートを実行します" next=enabled
click next
expect-page info="アップデートは完了しました" next-caption="完了" timeout=60000
click next
expect-exit 1
EOF
say "Running update-1.02.exe under Wine: the patched files are built from the installed ones"
drive "$demo/script-1.02" 'C:\updater\update-1.02.exe' "$demo/driver-1.02.stderr"
if [ "$status" -ne 0 ]; then
    sed 's/^/   /' "$demo/driver-1.02.stderr" | grep -v 'fixme\|err:' | tail -n 20
    echo "FAILED: update-1.02.exe did not run through to \"完了\" with exit status 1 (driver status $status)"
    exit 1
fi
for file in game.exe data1.dat pack.dat stage8.dat; do
    cmp -s "$game/$file" "$releases/1.02/$file" || {
        echo "FAILED: C:\\SampleGame\\$file is not release 1.02's"
        exit 1
    }
done
echo "   C:\\SampleGame: game.exe, data1.dat, pack.dat and stage8.dat are byte for byte release 1.02's"
echo
echo "SUCCESS: the example update and the patched next release were applied to the example game under Wine" \
    "($route updater: $why)."
