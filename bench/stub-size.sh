#!/usr/bin/env bash
# Size of each setup stub (i686 and x86-64, both products) as shipped, without
# symbols and debug information, against two references from this run: the
# same stub with its debug sections (from its .debug file) added back, and a
# minimal Win32 program showing a message built from one std::string, made by
# the same compiler with the stubs' options. Prints figures; asserts nothing.
#   bench/stub-size.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: stub-size.sh BUILD_DIR}
work=$(mktemp -d "${TMPDIR:-/tmp}/voz-stubsize.XXXXXX")
trap 'rm -rf "$work"' EXIT
cat >"$work/minimal.cpp" <<'CPP'
#include <windows.h>
#include <string>
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR line, int) {
  std::string text = std::string("Setup ") + line;
  MessageBoxA(nullptr, text.c_str(), "Setup", MB_OK);
  return 0;
}
CPP
printf '%-8s %-12s %10s %10s %8s %10s %8s\n' arch stub shipped 'with debug' ratio minimal ratio
for arch in win32 win64; do
  case $arch in win32) cc=i686-w64-mingw32 ;; win64) cc=x86_64-w64-mingw32 ;; esac
  "$cc-g++-win32" -Os -ffunction-sections -fno-exceptions -mwindows -static -static-libgcc \
    -static-libstdc++ -Wl,--gc-sections -s "$work/minimal.cpp" -o "$work/minimal-$arch.exe"
  minimal=$(stat -c %s "$work/minimal-$arch.exe")
  for stub in PerusSetup MailvSetup; do
    exe=$build/$arch/setup/$stub.exe
    if [ ! -f "$exe" ]; then
      printf '%-8s %-12s %10s\n' "$arch" "$stub" "not built"
      continue
    fi
    shipped=$(stat -c %s "$exe")
    linked=$shipped
    if [ -f "$exe.debug" ]; then
      # The debug file holds the stripped sections (and empty copies of the
      # others, which take no room in it).
      extra=$("$cc-objdump" -h "$exe.debug" | awk '/^ *[0-9]+ \.debug/{ print $3 }' |
        while read -r h; do echo $((16#$h)); done | awk '{ s += $1 } END { print s + 0 }')
      linked=$((shipped + extra))
    fi
    awk -v a="$arch" -v s="$stub" -v x="$shipped" -v l="$linked" -v m="$minimal" \
      'BEGIN { printf "%-8s %-12s %10d %10d %8.3f %10d %8.2f\n", a, s, x, l, x / l, m, x / m }'
  done
done
echo "(ratio: shipped / with debug sections, then shipped / minimal program;" \
     "goal for the i686 PerusSetup: at most 350000 bytes shipped)"
