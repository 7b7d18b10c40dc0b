#!/bin/sh
# patch-benchmark.sh [--pairs-only] [BUILD_DIR]: the updater's patches beside xdelta3 -9, bsdiff and zstd --patch-from on
# pairs of real releases from Debian's archive and a generated game-like data pack. For each pair: the size
# of the patch and of the whole file as the archive stores it (compressed), the time and peak memory to
# make each patch, and natively the time to apply ours through the updater's file route against writing
# the whole file from its compressed entry, and the digest's speed. Not part of the tests: it downloads
# about 100 MB of packages and runs for a quarter of an hour or more.
#
# Pairs: the two versions apt-cache lists of each package (the release's and its update), the file in it
# named below. Where only one version is listed the package is skipped and said so. They are kept in
# BUILD_DIR/patch-bench (PATCH_BENCH_WORK), as NAME.old and NAME.new, and fetched again only when missing;
# --pairs-only makes them and stops (patch-wine-benchmark.sh uses the same pairs).
set -e
pairs_only=no
if [ "${1:-}" = --pairs-only ]; then
  pairs_only=yes
  shift
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench}
work=${PATCH_BENCH_WORK:-$build/patch-bench}
mkdir -p "$work"

if [ $pairs_only = no ]; then
  missing=""
  for tool in xdelta3 bsdiff zstd; do command -v $tool >/dev/null 2>&1 || missing="$missing $tool"; done
  if [ -n "$missing" ]; then
    echo "Installing:$missing"
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
  fi
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DUPDATER_WINDOWS_BUILD=OFF -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$build" --target patch_benchmark -j2 >/dev/null
fi
bench=$build/bin/patch_benchmark

# package path-inside-the-package: one pair each.
pairs="libreoffice-core usr/lib/libreoffice/program/libmergedlo.so
postgresql-15 usr/lib/postgresql/15/bin/postgres
openjdk-17-jre-headless usr/lib/jvm/java-17-openjdk-amd64/lib/server/libjvm.so"

fetch_pair() { # package path -> $work/NAME.old, $work/NAME.new
  package=$1 path=$2 name=$(basename "$2")
  [ -f "$work/$name.old" ] && [ -f "$work/$name.new" ] && return 0
  versions=$(apt-cache madison "$package" | awk -F'|' '{gsub(/ /, "", $2); print $2}' | sort -u -V)
  old=$(echo "$versions" | head -n 1) new=$(echo "$versions" | tail -n 1)
  if [ "$old" = "$new" ]; then echo "$package: only version $old is listed: skipped"; return 1; fi
  for side in old new; do
    eval version=\$$side
    rm -rf "$work/deb" && mkdir -p "$work/deb"
    (cd "$work/deb" && apt-get download -q "$package=$version" >/dev/null 2>&1)
    dpkg-deb -x "$work"/deb/*.deb "$work/deb/x"
    cp "$work/deb/x/$path" "$work/$name.$side"
    echo "$package $version: $path" >>"$work/sources.txt"
  done
  rm -rf "$work/deb"
}

# A data pack as games keep them: a table of members, then the members (textures and models that compress,
# sounds that do not, scripts as text). The second version changes a few members, inserts some and removes
# others, which moves every member after them and rewrites the table.
make_pack() {
  [ -f "$work/game.pak.old" ] && [ -f "$work/game.pak.new" ] && return 0
  python3 - "$work" <<'PY'
import os, random, struct, sys
work = sys.argv[1]
rng = random.Random(20)
def member(kind, size):
    if kind == 'sound':
        return os.urandom(size)
    if kind == 'script':
        words = [b'function ', b'local ', b'return ', b'end\r\n', b'if ', b'then ', b'player.', b'enemy.', b'= ', b'0 ']
        out = bytearray()
        while len(out) < size: out += rng.choice(words)
        return bytes(out[:size])
    # textures and models: smooth rows with some noise
    out = bytearray(size)
    value = rng.randrange(256)
    for i in range(0, size, 64):
        value = (value + rng.randrange(-3, 4)) & 255
        out[i:i + 64] = bytes([value]) * 48 + os.urandom(16)
    return bytes(out[:size])
members = []
for i in range(240):
    kind = rng.choice(['texture', 'texture', 'model', 'sound', 'script'])
    size = rng.randrange(20000, 600000)
    members.append(('%s%03d' % (kind, i), member(kind, size)))
def pack(members):
    table = b''.join(struct.pack('<32sII', name.encode(), 0, len(data)) for name, data in members)
    offset = 8 + len(table)
    entries = []
    for name, data in members:
        entries.append(struct.pack('<32sII', name.encode(), offset, len(data)))
        offset += len(data)
    return b'PACK' + struct.pack('<I', len(members)) + b''.join(entries) + b''.join(d for _, d in members)
open(os.path.join(work, 'game.pak.old'), 'wb').write(pack(members))
second = list(members)
for i in rng.sample(range(len(second)), 6):   # a few members changed here and there
    name, data = second[i]
    data = bytearray(data)
    for _ in range(20):
        at = rng.randrange(len(data)); data[at:at + 8] = os.urandom(8)
    second[i] = (name, bytes(data))
for i in sorted(rng.sample(range(len(second)), 3), reverse=True):   # removed
    del second[i]
for j in range(4):   # inserted
    kind = rng.choice(['texture', 'sound', 'script'])
    second.insert(rng.randrange(len(second)), ('new%s%d' % (kind, j), member(kind, rng.randrange(50000, 400000))))
open(os.path.join(work, 'game.pak.new'), 'wb').write(pack(second))
PY
  echo "game.pak: generated (240 members; 6 changed, 3 removed, 4 inserted)" >>"$work/sources.txt"
}

: >"$work/sources.txt"
names=""
echo "$pairs" | while read -r package path; do fetch_pair "$package" "$path" || true; done
for f in "$work"/*.old; do names="$names $(basename "$f" .old)"; done
make_pack
names="$(for f in "$work"/*.old; do basename "$f" .old; done | sort -u | tr '\n' ' ')"
if [ $pairs_only = yes ]; then
  echo "pairs in $work: $names"
  exit 0
fi

measure() { # label command... -> "seconds peakKB"
  /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >/dev/null 2>&1 || { echo "fail fail"; return; }
  cat "$work/time.txt"
}

printf '%-16s %11s %11s %10s %10s %10s %10s %9s %7s %8s %8s %8s %8s %8s %8s %8s %6s\n' file old new whole ours \
  xdelta3-9 bsdiff zstd ours/bs ours_s ours_MB xd_s bs_s zstd_s apply_s whole_s digest
for name in $names; do
  old=$work/$name.old new=$work/$name.new
  line=$("$bench" "$old" "$new" "$work/$name.ours")
  set -- $(measure "$bench" "$old" "$new" "$work/$name.ours")
  ours_s=$1 ours_kb=$2
  set -- $(measure xdelta3 -9 -f -e -s "$old" "$new" "$work/$name.xd")
  xd_s=$1
  set -- $(measure bsdiff "$old" "$new" "$work/$name.bsd")
  bs_s=$1
  set -- $(measure zstd -q -f --patch-from="$old" --ultra -22 --long=31 "$new" -o "$work/$name.zst")
  zs_s=$1
  value() { echo "$line" | tr ' ' '\n' | sed -n "s/^$1=//p"; }
  size() { stat -c %s "$1"; }
  ours=$(value patch)
  printf '%-16s %11s %11s %10s %10s %10s %10s %9s %7.3f %8s %8s %8s %8s %8s %8s %8s %6s\n' "$name" "$(value old)" \
    "$(value new)" "$(value whole)" "$ours" "$(size "$work/$name.xd")" "$(size "$work/$name.bsd")" \
    "$(size "$work/$name.zst")" "$(echo "$ours $(size "$work/$name.bsd")" | awk '{print $1 / $2}')" "$ours_s" \
    "$((ours_kb / 1024))" "$xd_s" "$bs_s" "$zs_s" "$(value apply_s)" "$(value whole_write_s)" \
    "$(value digest_MBps)"
done
echo
echo "Sources:"
cat "$work/sources.txt"
echo "ours_s, xd_s, bs_s, zstd_s: seconds to make the patch (ours: with the whole file compressed too, and"
echo "applied twice natively); ours_MB: peak memory of that run. apply_s: applying ours natively through the"
echo "updater's file route (old file read at its positions, new file written and flushed); whole_s: writing"
echo "the whole file from its compressed entry, decoded and flushed; digest: MB/s of the digest."
