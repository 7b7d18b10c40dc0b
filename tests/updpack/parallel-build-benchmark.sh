#!/bin/bash
# Times updpack build --base with one worker and with every core on a release pair of several large files,
# and checks that both updaters are the same byte for byte. A measurement to run by hand (with a release
# build), not one of the tests. The pair: the largest programs and data of two releases of
# postgresql-15 and openjdk-17-jre-headless (the two versions apt-cache lists of each, as
# benchmarks/patch-benchmark.sh takes them; about 120 MB of packages) and two versions of a generated game
# data pack. Wall-clock times on a busy machine include waiting for a processor.
# Usage: parallel-build-benchmark.sh UPDPACK STUB [WORK [ROUNDS]]
#   STUB   the updater stub (update.exe of the Windows build)
#   WORK   a folder to keep the releases in between runs (default build/parallel-bench beside UPDPACK's folder)
#   ROUNDS how many times to build with one worker and then with every core (default 3)
set -eu
updpack=$(realpath "$1")
stub=$(realpath "$2")
work=${3:-$(dirname "$updpack")/../parallel-bench}
rounds=${4:-3}
mkdir -p "$work"
work=$(realpath "$work")
cd "$work"

# package file...: the files go into old/ and new/ under their bare names.
fetch() {
    local package=$1 versions old new side version
    shift
    [ -f "new/$(basename "$1")" ] && return 0
    versions=$(apt-cache madison "$package" | awk -F'|' '{gsub(/ /, "", $2); print $2}' | sort -u -V)
    old=$(echo "$versions" | head -n 1) new=$(echo "$versions" | tail -n 1)
    [ "$old" != "$new" ] || { echo "$package: only version $old is listed" >&2; exit 1; }
    for side in old new; do
        eval version=\$$side
        rm -rf deb && mkdir -p deb "$side"
        (cd deb && apt-get download -q "$package=$version" >/dev/null 2>&1)
        dpkg-deb -x deb/*.deb deb/x
        for path in "$@"; do cp "deb/x/$path" "$side/"; done
        echo "$package $version ($side): $*" >>sources.txt
    done
    rm -rf deb
}

if [ ! -f new/game.pak ]; then
    : >sources.txt
    fetch postgresql-15 usr/lib/postgresql/15/bin/postgres
    fetch openjdk-17-jre-headless usr/lib/jvm/java-17-openjdk-amd64/lib/server/libjvm.so \
        usr/lib/jvm/java-17-openjdk-amd64/lib/server/classes.jsa usr/lib/jvm/java-17-openjdk-amd64/lib/ct.sym
    # A data pack of members (smooth textures, noisy sounds, scripts); the new one changes some members,
    # drops some and inserts others, which moves everything after them.
    python3 - <<'PY'
import random, struct
rng = random.Random(7)
def member(kind, size):
    if kind == 'sound':
        return rng.randbytes(size)
    if kind == 'script':
        words = [b'function ', b'local ', b'return ', b'end\r\n', b'if ', b'then ', b'player.', b'= ', b'0 ']
        out = bytearray()
        while len(out) < size: out += rng.choice(words)
        return bytes(out[:size])
    out = bytearray()
    value = rng.randrange(256)
    while len(out) < size:
        value = (value + rng.randrange(-3, 4)) & 255
        out += bytes([value]) * 48 + rng.randbytes(16)
    return bytes(out[:size])
members = [('m%03d' % i, member(rng.choice(['texture', 'texture', 'sound', 'script']), rng.randrange(20000, 500000)))
           for i in range(200)]
def pack(members):
    offset, table = 8 + 40 * len(members), b''
    for name, data in members:
        table += struct.pack('<32sII', name.encode(), offset, len(data))
        offset += len(data)
    return b'PACK' + struct.pack('<I', len(members)) + table + b''.join(d for _, d in members)
open('old/game.pak', 'wb').write(pack(members))
for i in rng.sample(range(len(members)), 6):
    name, data = members[i]
    data = bytearray(data)
    for _ in range(20):
        at = rng.randrange(len(data)); data[at:at + 8] = rng.randbytes(8)
    members[i] = (name, bytes(data))
for i in sorted(rng.sample(range(len(members)), 3), reverse=True):
    del members[i]
for j in range(4):
    members.insert(rng.randrange(len(members)), ('new%d' % j, member('texture', rng.randrange(50000, 400000))))
open('new/game.pak', 'wb').write(pack(members))
PY
    echo "game.pak: generated (200 members; 6 changed, 3 removed, 4 inserted)" >>sources.txt
fi

rm -rf update
mkdir update
cp -p new/* update/
{
    printf '[SETUP]\r\nCompanyName=Bench\r\nGameTitle=Bench\r\nGameClass=Bench\r\nGameDir=Bench\r\n[UPDATE]\r\n'
    i=0
    for f in new/*; do printf 'UpdateFile%02d=%s\r\n' $i "$(basename "$f")"; i=$((i + 1)); done
} >update/UPDATE.INI

echo "Files (old -> new bytes):"
for f in new/*; do printf '  %-16s %11s -> %11s\n' "$(basename "$f")" "$(stat -c %s "old/$(basename "$f")")" "$(stat -c %s "$f")"; done
cat sources.txt | sed 's/^/  /'
cores=$(nproc)
# Rounds of one worker then every core, so that a change in the machine's load falls on both alike.
printf '%-6s %-8s %10s %10s %10s %12s\n' round workers wall_s user_s peak_MB load_before
for round in $(seq 1 "$rounds"); do
    for workers in 1 "$cores"; do
        load=$(cut -d' ' -f1 /proc/loadavg)
        UPDPACK_WORKERS=$workers /usr/bin/time -f "%e %U %M" -o time.txt \
            "$updpack" build "update-$workers.exe" update --stub "$stub" --base old >"build-$workers.out" 2>&1 || {
            cat "build-$workers.out" >&2
            exit 1
        }
        set -- $(cat time.txt)
        printf '%-6s %-8s %10s %10s %10s %12s\n' "$round" "$workers" "$1" "$2" "$(($3 / 1024))" "$load"
    done
done
cmp "update-1.exe" "update-$cores.exe" && cmp "build-1.out" <(sed "s/update-$cores.exe/update-1.exe/" "build-$cores.out") &&
    echo "The updaters are the same byte for byte ($(stat -c %s update-1.exe) bytes), and so is what the tool printed:"
sed 's/^/  /' build-1.out
