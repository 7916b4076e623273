#!/usr/bin/env bash
# Makes what every end-to-end case shares, once per build:
#   WORK/setups/{PerusSetup,MailvSetup}.exe      the setup files, as vozpack packs them
#   WORK/setups/{PerusSetup,MailvSetup}-damaged.exe   the same with one archive byte changed
#   WORK/payload-{A,B}/                          the payload folders they carry
#   WORK/pristine/                               a freshly booted Wine prefix
#   e2e-prepare.sh WIN64_BUILD VOZPACK PERUS_STUB MAILV_STUB WORK
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e-lib.sh"
. "$e2e_root/scripts/product-lib.sh"
[ $# -eq 5 ] || { echo "usage: e2e-prepare.sh WIN64_BUILD VOZPACK PERUS_STUB MAILV_STUB WORK" >&2; exit 1; }
win64=$1 vozpack=$2 stubA=$3 stubB=$4 work=$5
mkdir -p "$work/setups"

prefixes=$(e2e_prefixes "$work")
rm -rf "$prefixes/pristine"
mkdir -p "$prefixes/pristine"
export WINEPREFIX=$prefixes/pristine/prefix
trap e2e_stop EXIT
if [ -n "${VOZ_WINE_PRISTINE:-}" ] && [ -f "$VOZ_WINE_PRISTINE/system.reg" ]; then
  # The test environment's untouched prefix, of the same Wine.
  cp -a "$VOZ_WINE_PRISTINE" "$WINEPREFIX"
else
  ( unset DISPLAY; "$e2e_root/scripts/wine-boot" )
fi
"$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v VozE2E /d 1024x768 /f >/dev/null 2>&1
"$WINESERVER" -w
[ -f "$WINEPREFIX/system.reg" ] || { echo "e2e-prepare: wineboot made no prefix" >&2; exit 1; }
# A Windows vozpack runs in a throw-away copy of the new prefix.
export WINEPREFIX=$prefixes/pack-prefix
rm -rf "$WINEPREFIX"
cp -a --reflink=auto "$prefixes/pristine/prefix" "$WINEPREFIX"

pack() {  # pack STUB OUT DIR
  if [[ "$vozpack" == *.exe ]]; then
    "$e2e_root/scripts/wine-run" "$vozpack" pack --stub "$(e2e_winpath "$1")" --out "$(e2e_winpath "$2")" "$(e2e_winpath "$3")"
  else
    "$vozpack" pack --stub "$1" --out "$2" "$3"
  fi
}

# One byte in the middle of the archive body, behind the marker, inverted.
damage() {  # damage IN OUT
  cp "$1" "$2"
  local marker size at
  marker=$(grep -abo '<VOZIP FILE BEGINS HERE>' "$1" | tail -1 | cut -d: -f1)
  size=$(stat -c %s "$1")
  at=$(( marker + 24 + (size - marker - 24) / 2 ))
  local byte
  byte=$(od -An -tu1 -j "$at" -N1 "$1" | tr -d ' ')
  printf "$(printf '\\%03o' $(( 255 - byte )))" | dd of="$2" bs=1 seek="$at" conv=notrunc status=none
}

for p in A B; do
  if [ $p = A ]; then stub=$stubA; else stub=$stubB; fi
  name=$(voz_product_fact $p SETUP_NAME)
  [ -d "$work/payload-$p" ] && chmod -R u+w "$work/payload-$p"
  "$e2e_root/scripts/make-payload" $p "$win64" "$vozpack" "$work/payload-$p"
  # An old time stamp and a read-only file, so that the cases can tell that
  # both travel with the file.
  touch -d '2001-02-03 04:05:06' "$work/payload-$p/License.txt"
  chmod a-w "$work/payload-$p/License.txt"
  mkdir -p "$work/expected-$p"
  cp "$win64/product/$p/PVQHelp.exe" "$work/expected-$p/PVQHelp.exe"
  pack "$stub" "$work/setups/$name.exe" "$work/payload-$p"
  damage "$work/setups/$name.exe" "$work/setups/$name-damaged.exe"
  cmp -s "$work/setups/$name.exe" "$work/setups/$name-damaged.exe" && { echo "damaging $name failed" >&2; exit 1; }
done

echo "e2e-prepare: setups in $work/setups, pristine prefix $prefixes/pristine/prefix"
"$WINESERVER" -k >/dev/null 2>&1 || true
rm -rf "$prefixes/pack-prefix"
