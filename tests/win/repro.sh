#!/usr/bin/env bash
# Builds PerusSetup, MailvSetup and vozpack a second time, in a fresh tree in
# another folder, and compares the bytes with this build's:
#   repro.sh SOURCE_DIR SECOND_TREE TOOLCHAIN BUILD_TYPE WINE_RUN
#            FIRST_TREE PERUS_EXE MAILV_EXE VOZPACK_EXE
# The stubs and their .debug files must be equal; then each tree's vozpack
# packs the same payload, from two folders, behind its own tree's stub, and
# the two setup files must be equal too. Prints how long each step took.
set -euo pipefail
src=$1 tree=$2 toolchain=$3 buildtype=$4 winerun=$5 first=$6
perus=$7 mailv=$8 vozpack=$9
fail() { echo "repro_test: $*" >&2; exit 1; }
for f in "$perus" "$mailv" "$vozpack"; do [ -f "$f" ] || fail "not built: $f"; done
case $toolchain in /*) ;; *) toolchain=$src/$toolchain ;; esac
[ -f "$toolchain" ] || fail "toolchain file not found: $toolchain"

# The same file's place in the second tree.
second() { echo "$tree/${1#"$first"/}"; }

start=$SECONDS
rm -rf "$tree"
# No cached object may hide a compiler that gives other bytes elsewhere.
export CCACHE_DISABLE=1
cmake -S "$src" -B "$tree" -G "Unix Makefiles" -Wno-dev -DCMAKE_BUILD_TYPE="$buildtype" \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" >"$tree.configure.log" 2>&1 ||
  { cat "$tree.configure.log" >&2; fail "configuring the second tree failed"; }
configured=$SECONDS
cmake --build "$tree" -j 2 --target PerusSetup MailvSetup vozpack >"$tree.build.log" 2>&1 ||
  { tail -40 "$tree.build.log" >&2; fail "building the second tree failed"; }
built=$SECONDS

status=0
for f in "$perus" "$perus.debug" "$mailv" "$mailv.debug"; do
  other=$(second "$f")
  if cmp -s "$f" "$other"; then
    echo "same: ${f#"$first"/} ($(stat -c %s "$f") bytes)"
  else
    echo "DIFFERENT: $f and $other" >&2
    cmp -l "$f" "$other" 2>&1 | head -8 >&2 || true
    status=1
  fi
done

# vozpack's output: the same payload in two folders, packed by each tree's
# vozpack behind each tree's stub. Relative names keep the Windows side free
# of path conversion.
work=$(mktemp -d "${TMPDIR:-/tmp}/voz-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/one/Help"
printf 'Perusant reproducible payload\r\n' >"$work/one/readme.txt"
head -c 300000 "$perus" >"$work/one/Help/part.bin"
: >"$work/one/empty.txt"
touch -d '2021-03-04 05:06:07 UTC' "$work/one/readme.txt" "$work/one/Help/part.bin" "$work/one/empty.txt"
chmod a-w "$work/one/readme.txt"
cp -a "$work/one" "$work/two"
cp "$perus" "$work/stub1.exe"
cp "$(second "$perus")" "$work/stub2.exe"
cd "$work"
"$winerun" "$vozpack" pack --stub stub1.exe --out a.exe one >pack1.log 2>&1 ||
  { cat pack1.log >&2; fail "vozpack pack failed (first tree)"; }
"$winerun" "$(second "$vozpack")" pack --threads 2 --stub stub2.exe --out b.exe two >pack2.log 2>&1 ||
  { cat pack2.log >&2; fail "vozpack pack failed (second tree)"; }
if cmp -s "$work/a.exe" "$work/b.exe"; then
  echo "same: packed setup file ($(stat -c %s "$work/a.exe") bytes)"
else
  echo "DIFFERENT: the setup files packed by the two trees' vozpack" >&2
  status=1
fi

echo "repro_test: configure $((configured - start)) s, build $((built - configured)) s," \
     "total $((SECONDS - start)) s"
exit $status
