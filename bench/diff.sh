#!/usr/bin/env bash
# Benchmark of `vozpack diff` against xdelta3 -9 and bsdiff on real old/new
# binary pairs, measured in the same run.
#
#   make BUILD=build JOBS=2 native && bench/diff.sh build/native
#   (or: cmake --build build/native --target bench_diff)
#
# The pairs are two versions of the same Debian package where the archive
# offers two (apt-get download, after apt-get update), kept in $BENCH_WORK
# (default: <build dir>/bench-diff) and reused. Every vozpack patch is
# applied again with `vozpack patch` and compared with the new file.
# Figures: patch size and time as ratios to xdelta3 -9 (its default lzma
# secondary compression; -S none shown for context) and to bsdiff.
set -euo pipefail

build=${1:-build/native}
vozpack=$build/tools/vozpack/vozpack
work=${BENCH_WORK:-$build/bench-diff}

for tool in xdelta3 bsdiff apt-get apt-cache dpkg-deb python3; do
  command -v $tool >/dev/null || { echo "diff.sh: $tool is missing (run scripts/bootstrap)" >&2; exit 1; }
done
[ -x "$vozpack" ] || { echo "diff.sh: no $vozpack (build it first)" >&2; exit 1; }
mkdir -p "$work/debs" "$work/pairs"

# package : file inside it (path below the package's root)
pairs=(
  "libssl3:usr/lib/x86_64-linux-gnu/libcrypto.so.3"
  "libssl3:usr/lib/x86_64-linux-gnu/libssl.so.3"
  "libxml2:usr/lib/x86_64-linux-gnu/libxml2.so.2.*"
  "libcurl4:usr/lib/x86_64-linux-gnu/libcurl.so.4.*"
  "python3.11-minimal:usr/bin/python3.11"
)

# The oldest and the newest version Debian offers of a package.
fetch() {  # fetch PACKAGE VERSION -> path of the unpacked folder
  local pkg=$1 version=$2 dir="$work/debs/$1_$2"
  if [ ! -d "$dir" ]; then
    (cd "$work/debs" && apt-get download -q "$pkg=$version" >/dev/null 2>&1) || return 1
    mkdir -p "$dir" && dpkg-deb -x "$work/debs/${pkg}_${version//:/%3a}"_*.deb "$dir"
  fi
  echo "$dir"
}

seconds() {  # seconds CMD...: wall time of the command
  local start end
  start=$(date +%s%N)
  "$@" > /dev/null
  end=$(date +%s%N)
  printf '%d.%09d\n' $(((end - start) / 1000000000)) $(((end - start) % 1000000000))
}

results=()
for entry in "${pairs[@]}"; do
  pkg=${entry%%:*} file=${entry#*:}
  mapfile -t versions < <(apt-cache madison "$pkg" | awk '{ print $3 }' | sort -u -V)
  if [ ${#versions[@]} -lt 2 ]; then
    echo "diff.sh: Debian offers one version of $pkg; pair skipped" >&2
    continue
  fi
  old_dir=$(fetch "$pkg" "${versions[0]}") || { echo "diff.sh: cannot download $pkg ${versions[0]}" >&2; continue; }
  new_dir=$(fetch "$pkg" "${versions[-1]}") || { echo "diff.sh: cannot download $pkg ${versions[-1]}" >&2; continue; }
  old=$(find "$old_dir" -path "$old_dir/$file" -type f | sort | head -n 1)
  new=$(find "$new_dir" -path "$new_dir/$file" -type f | sort | head -n 1)
  [ -n "$old" ] && [ -n "$new" ] || { echo "diff.sh: $file not in $pkg" >&2; continue; }
  file=$(basename "$new")
  p="$work/pairs/$file"
  t_vp=$(seconds "$vozpack" diff "$old" "$new" "$p.pch")
  "$vozpack" patch "$old" "$p.pch" "$p.out"
  cmp -s "$p.out" "$new" || { echo "diff.sh: the vozpack patch of $file does not rebuild it" >&2; exit 1; }
  t_xd=$(seconds xdelta3 -9 -f -e -s "$old" "$new" "$p.xd3")
  t_xn=$(seconds xdelta3 -9 -S none -f -e -s "$old" "$new" "$p.xd3n")
  t_bs=$(seconds bsdiff "$old" "$new" "$p.bsd")
  results+=("$file ${versions[0]} ${versions[-1]} $(stat -c %s "$old") $(stat -c %s "$new") \
$(stat -c %s "$p.pch") $t_vp $(stat -c %s "$p.xd3") $t_xd $(stat -c %s "$p.xd3n") $t_xn $(stat -c %s "$p.bsd") $t_bs")
done
[ ${#results[@]} -ge 3 ] || { echo "diff.sh: fewer than 3 pairs could be made" >&2; exit 1; }

RESULTS=$(printf '%s\n' "${results[@]}") python3 - <<'EOF'
import os
rows = [l.split() for l in os.environ["RESULTS"].splitlines() if l.strip()]
head = ("pair", "old", "new", "vozpack", "s", "xdelta3-9", "s", "-S none", "bsdiff", "s")
print("%-18s %9s %9s | %9s %6s | %9s %6s | %9s | %9s %6s | size/xd3 size/bsd time/xd3 time/bsd" % head)
tot = [0] * 6
for r in rows:
    name, v_old, v_new = r[0], r[1], r[2]
    old, new, vp, xd, xn, bs = (int(r[i]) for i in (3, 4, 5, 7, 9, 11))
    tvp, txd, tbs = (float(r[i]) for i in (6, 8, 12))
    print("%-18s %9d %9d | %9d %6.2f | %9d %6.2f | %9d | %9d %6.2f | %8.3f %8.3f %8.3f %8.3f   (%s -> %s)"
          % (name, old, new, vp, tvp, xd, txd, xn, bs, tbs, vp / xd, vp / bs, tvp / txd, tvp / tbs, v_old, v_new))
    for i, v in enumerate((vp, xd, bs, tvp, txd, tbs)):
        tot[i] += v
print("%-18s %9s %9s | %9d %6.2f | %9d %6.2f | %9s | %9d %6.2f | %8.3f %8.3f %8.3f %8.3f"
      % ("all pairs", "", "", tot[0], tot[3], tot[1], tot[4], "", tot[2], tot[5],
         tot[0] / tot[1], tot[0] / tot[2], tot[3] / tot[4], tot[3] / tot[5]))
EOF
