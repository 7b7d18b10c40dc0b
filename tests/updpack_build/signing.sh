#!/bin/bash
# The publisher's signing order: updpack build, then osslsigncode signs the built updater with a test
# certificate made here. osslsigncode verify accepts the signed updater, updpack list and test still read
# it, and updpack build refuses the signed program as a stub with a reason that says to sign after
# building, writing nothing. The signed updater's own check (checksum and length) passes, a cut one fails.
# Skipped (77) without osslsigncode or openssl.
# Usage: signing.sh UPDPACK STUB WORK_DIR
set -u
updpack=$1
stub=$2
work=$3
for tool in osslsigncode openssl; do
    command -v $tool >/dev/null || {
        echo "signing: skipped: no $tool (scripts/install-deps.sh installs it)"
        exit 77
    }
done
rm -rf "$work"
mkdir -p "$work/update"
cd "$work" || exit 1
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
printf '[SETUP]\r\nCompanyName=Signing\r\nGameTitle=Signed\r\nGameClass=SignedClass\r\nGameDir=Signed\r\n[UPDATE]\r\nUpdateFile00=a.dat\r\n' >update/UPDATE.INI
head -c 5000 /dev/urandom >update/a.dat

"$updpack" build update.exe update --stub "$stub" >build.log 2>&1 || fail "build: $(cat build.log)"
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 -subj "/CN=Test Publisher" \
    >openssl.log 2>&1 || fail "openssl: $(cat openssl.log)"
osslsigncode sign -certs cert.pem -key key.pem -n "Test update" -h sha256 -in update.exe -out signed.exe \
    >sign.log 2>&1 || fail "osslsigncode sign: $(cat sign.log)"
osslsigncode verify -CAfile cert.pem signed.exe >verify.log 2>&1 || fail "osslsigncode verify: $(cat verify.log)"
grep -q "Signature verification: ok" verify.log || fail "no verified signature: $(cat verify.log)"

# The signature sits after the program: the tool reads the archive as before.
"$updpack" list update.exe | sed 1d >unsigned.list || fail "list of the unsigned updater"
"$updpack" list signed.exe | sed 1d >signed.list || fail "list of the signed updater"
cmp -s unsigned.list signed.list || fail "list differs: $(diff unsigned.list signed.list)"
"$updpack" test signed.exe >test.log 2>&1 || fail "test of the signed updater: $(cat test.log)"
# Signing kept the checksum up to date, and the file ends with its certificate table: the updater's own
# check of its file passes.
grep -q "signed.exe: the program is whole: checksum" test.log || fail "the signed updater's check: $(cat test.log)"
head -c -1 signed.exe >cut.exe
"$updpack" test cut.exe >cut.log 2>&1 && fail "a signed updater cut by a byte passes: $(cat cut.log)"
grep -q "cut.exe: the program is damaged" cut.log || fail "the cut signed updater: $(cat cut.log)"
"$updpack" extract signed.exe out >/dev/null 2>&1 && cmp -s out/a.dat update/a.dat || fail "extract of the signed updater"

# Building on a signed program would break its signature: refused, and nothing written.
"$updpack" build again.exe update --stub signed.exe >refused.log 2>&1
status=$?
[ $status -eq 1 ] || fail "build on a signed stub exits $status: $(cat refused.log)"
grep -q "the program is signed .*build from the unsigned stub, then sign the built updater" refused.log ||
    fail "the refusal does not say to sign after building: $(cat refused.log)"
[ ! -e again.exe ] || fail "build on a signed stub wrote again.exe"
cd / && rm -rf "$work"
echo "signing: passed"
