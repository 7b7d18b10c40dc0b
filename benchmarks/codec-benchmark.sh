#!/bin/sh
# Builds the codec benchmark optimised, gathers its corpus from files the set-up installs anyway (Windows
# DLLs of Wine, the Japanese font, texts under /usr/share) plus a generated picture, prints their sizes and
# checksums, and runs it: stream size and encode speed of ours, zlib -9 and LZ4HC, decode speed of ours,
# inflate, LZ4 and memcpy, per file and for the whole corpus.
# Usage: benchmarks/codec-benchmark.sh [BUILD_DIR] [codec_benchmark options, e.g. --rounds 21]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench}
[ $# -gt 0 ] && shift
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DUPDATER_WINDOWS_BUILD=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target codec_benchmark -j2 >/dev/null
corpus=$build/corpus
rm -rf "$corpus"
mkdir -p "$corpus"
# 32-bit DLLs where Wine's 32-bit side is installed; on a host with only the 64-bit side, the same
# libraries built for x86-64 (the table then says which were taken).
for name in kernelbase.dll user32.dll ole32.dll msi.dll; do
  for dir in /usr/lib/i386-linux-gnu/wine/i386-windows /usr/lib/x86_64-linux-gnu/wine/x86_64-windows; do
    if [ -f "$dir/$name" ]; then
      cp "$dir/$name" "$corpus/$name"
      echo "$name from $dir"
      break
    fi
  done
  [ -f "$corpus/$name" ] || { echo "no $name in Wine's library folders" >&2; exit 1; }
done
cp /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf "$corpus/"
cp /usr/share/common-licenses/GPL-3 "$corpus/GPL-3.txt"
gzip -dc /usr/share/doc/wine/NEWS.gz >"$corpus/wine-NEWS.txt"
"$build/bin/codec_benchmark" --write-image "$corpus/picture.bmp"
files="kernelbase.dll user32.dll ole32.dll msi.dll ipag.ttf GPL-3.txt wine-NEWS.txt picture.bmp"
echo "corpus (bytes, SHA-256):"
for f in $files; do
  printf '  %-16s %10s  %s\n' "$f" "$(wc -c <"$corpus/$f")" "$(sha256sum "$corpus/$f" | cut -d' ' -f1)"
done
cd "$corpus"
# shellcheck disable=SC2086
"$build/bin/codec_benchmark" "$@" $files
