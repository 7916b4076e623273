#!/usr/bin/env bash
# A setup file that was Authenticode-signed after packaging still installs,
# and so does the same file unsigned.
#   signed_setup_test.sh PAYLOAD_PROBE_EXE VOZPACK_EXE WINE_RUN
# payload_probe.exe is the stub: it extracts its own payload into the folder
# named on its command line and exits 0 on success, 1 on failure.
set -euo pipefail

probe=${1:-}
vozpack=${2:-}
winerun=${3:-}
fail() { echo "signed_setup_test: $*" >&2; exit 1; }
[ -f "$probe" ] || fail "payload_probe.exe not found: '$probe'"
[ -f "$vozpack" ] || fail "vozpack.exe not found: '$vozpack' (is the vozpack target built?)"
[ -x "$winerun" ] || fail "Wine runner not found: '$winerun'"

work=$(mktemp -d "${TMPDIR:-/tmp}/voz-signed.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

winpath() { "$winerun" winepath -w "$1" | tr -d '\r'; }

# Runs a setup file with the given destination folder; returns its exit code.
run_setup() {
  local exe=$1 dest=$2
  set +e
  "$winerun" "$exe" "$(winpath "$dest")" >/dev/null
  local rc=$?
  set -e
  return $rc
}

# Throw-away signer: key and self-signed certificate, valid for a day.
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 1 \
  -subj "/CN=Voz Test Signer" >/dev/null 2>&1 || fail "openssl could not make a certificate"

# The payload: a text file, a file in a subfolder larger than two copy
# chunks, and an empty file.
mkdir -p payload/docs
printf 'Perusant test payload\r\n' > payload/readme.txt
# Same noise every run: a fixed-key cipher stream.
head -c 150001 /dev/zero | openssl enc -aes-128-ctr -K 000102030405060708090a0b0c0d0e0f \
  -iv 00000000000000000000000000000000 -nosalt > payload/docs/data.bin
: > payload/empty.txt

cp "$probe" stub.exe
"$winerun" "$vozpack" pack --stub stub.exe --out setup.exe payload >/dev/null \
  || fail "vozpack pack failed"
[ -f setup.exe ] || fail "vozpack wrote no setup.exe"

osslsigncode sign -certs cert.pem -key key.pem -in setup.exe -out signed.exe >/dev/null \
  || fail "osslsigncode could not sign setup.exe"
# The signature is really there, behind the archive.
osslsigncode extract-signature -in signed.exe -out signature.der >/dev/null \
  || fail "signed.exe carries no signature"
[ "$(stat -c %s signed.exe)" -gt "$(stat -c %s setup.exe)" ] || fail "signed.exe is not larger"
if [ $(( $(stat -c %s setup.exe) % 8 )) -ne 0 ]; then
  echo "signed_setup_test: note: setup.exe is not a multiple of 8 bytes long;" \
       "the signer pads it, and the padding ends up inside the archive" >&2
fi

for exe in setup.exe signed.exe; do
  dest=$work/dest-${exe%.exe}
  mkdir "$dest"
  run_setup "$exe" "$dest" || fail "$exe did not install (exit code $?)"
  diff -r payload "$dest" >&2 || fail "$exe installed other files or contents"
done

# The probe's exit code is meaningful: a missing destination, and the bare
# stub without a payload, both fail.
run_setup signed.exe "$work/missing" && fail "signed.exe succeeded without a destination"
[ ! -e "$work/missing" ] || fail "signed.exe created the missing destination"
mkdir dest-stub
run_setup stub.exe "$work/dest-stub" && fail "the bare stub reported success"

echo "signed_setup_test: signed and unsigned setups installed"
