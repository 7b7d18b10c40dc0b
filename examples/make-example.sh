#!/bin/sh
# Regenerates the code page 932 texts of the example update folder (examples/update) from their UTF-8
# sources beside it: every line ends in CR LF, as the updater and its agreement page expect.
set -e
cd "$(dirname "$0")"
to_cp932() {
    sed 's/\r$//; s/$/\r/' "$1" | iconv -f UTF-8 -t CP932 >"$2.tmp"
    mv "$2.tmp" "$2"
}
to_cp932 update.ini.utf8 update/UPDATE.INI
to_cp932 agree.txt.utf8 update/AGREE.TXT
to_cp932 title.txt.utf8 update/TITLE.TXT
to_cp932 manual.txt.utf8 "update/マニュアル.txt"
