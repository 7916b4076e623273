#!/usr/bin/env bash
# Benchmark of `vozpack diff` against xdelta3 -9, on real old/new binary
# pairs, measured in the same run; bsdiff's patch size for scale.
#
#   make BUILD=build JOBS=2 native && bench/diff.sh build/native
#   (or: cmake --build build/native --target bench_diff; `make bench` runs it)
#
# Pairs: two versions of the same Debian package where the archive offers
# two (apt-get download, after apt-get update): five ELF libraries and
# programs, and two PE images (EFI programs) as a Windows vendor would patch
# them; plus the sample product's own programs from the win64 build beside
# the native one (the main program and the help program its patch rebuilds,
# and the two profiles' builds of one program). Downloads are kept in
# $BENCH_WORK (default: <build dir>/bench-diff) and reused.
#
# Every vozpack patch is applied again with `vozpack patch` and compared with
# the new file. Per pair: patch sizes, and the ratios of vozpack to xdelta3
# -9 (its default secondary compression, LZMA in Debian's build) in size,
# wall time and peak memory; the sums over the five ELF pairs and over all
# pairs. A second size ratio is taken against xdelta3 -9 -S djw, whose
# secondary compressor is a Huffman coder like the one a vozpack patch's
# blocks are inflated with: it tells the matcher's part of the difference
# from the entropy coder's.
set -euo pipefail

build=${1:-build/native}
vozpack=$build/tools/vozpack/vozpack
work=${BENCH_WORK:-$build/bench-diff}
win64=${BENCH_WIN64:-$build/../win64}

for tool in xdelta3 bsdiff apt-get apt-cache dpkg-deb python3; do
  command -v $tool >/dev/null || { echo "diff.sh: $tool is missing (run scripts/bootstrap)" >&2; exit 1; }
done
[ -x "$vozpack" ] || { echo "diff.sh: no $vozpack (build it first)" >&2; exit 1; }
mkdir -p "$work/debs" "$work/pairs"

# group : package : file inside it (path below the package's root)
debian_pairs=(
  "elf:libssl3:usr/lib/x86_64-linux-gnu/libcrypto.so.3"
  "elf:libssl3:usr/lib/x86_64-linux-gnu/libssl.so.3"
  "elf:libxml2:usr/lib/x86_64-linux-gnu/libxml2.so.2.*"
  "elf:libcurl4:usr/lib/x86_64-linux-gnu/libcurl.so.4.*"
  "elf:python3.11-minimal:usr/bin/python3.11"
  "pe:grub-efi-amd64-signed:usr/lib/grub/x86_64-efi-signed/grubx64.efi.signed"
  "pe:systemd-boot-efi:usr/lib/systemd/boot/efi/systemd-bootx64.efi"
)
# name : old : new (below the win64 build's product folder)
product_pairs=(
  "Perus-PVQHelp:A/Perus.exe:A/PVQHelp.exe"
  "Perus-Mailv:A/Perus.exe:B/Mailv.exe"
  "remover-A-B:A/remover.exe:B/remover.exe"
)

fetch() {  # fetch PACKAGE VERSION -> path of the unpacked folder
  local pkg=$1 version=$2 dir="$work/debs/$1_$2"
  if [ ! -d "$dir" ]; then
    (cd "$work/debs" && apt-get download -q "$pkg=$version" >/dev/null 2>&1) || return 1
    mkdir -p "$dir" && dpkg-deb -x "$work/debs/${pkg}_${version//:/%3a}"_*.deb "$dir"
  fi
  echo "$dir"
}

# measure CMD...: "seconds peak-KiB" of the command (its output discarded)
measure() {
  python3 - "$@" <<'EOF'
import resource, subprocess, sys, time
start = time.monotonic()
rc = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL).returncode
seconds = time.monotonic() - start
if rc != 0:
    sys.exit("diff.sh: %s failed (status %d)" % (sys.argv[1], rc))
print("%.3f %d" % (seconds, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss))
EOF
}

results=()
run_pair() {  # run_pair GROUP NAME OLD NEW VERSIONS
  local group=$1 name=$2 old=$3 new=$4 versions=$5 p="$work/pairs/$2"
  local vp xd
  vp=$(measure "$vozpack" diff "$old" "$new" "$p.pch")
  "$vozpack" patch "$old" "$p.pch" "$p.out"
  cmp -s "$p.out" "$new" || { echo "diff.sh: the vozpack patch of $name does not rebuild it" >&2; exit 1; }
  rm -f "$p.out"
  xd=$(measure xdelta3 -9 -f -e -s "$old" "$new" "$p.xd3")
  xdelta3 -9 -S djw -f -e -s "$old" "$new" "$p.djw"
  bsdiff "$old" "$new" "$p.bsd"
  results+=("$group $name $(stat -c %s "$old") $(stat -c %s "$new") $(stat -c %s "$p.pch") $vp \
$(stat -c %s "$p.xd3") $xd $(stat -c %s "$p.bsd") $(stat -c %s "$p.djw") $versions")
}

for entry in "${debian_pairs[@]}"; do
  IFS=: read -r group pkg file <<< "$entry"
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
  run_pair "$group" "$(basename "$new")" "$old" "$new" "${versions[0]}->${versions[-1]}"
done
for entry in "${product_pairs[@]}"; do
  IFS=: read -r name old new <<< "$entry"
  old=$win64/product/$old new=$win64/product/$new
  if [ ! -f "$old" ] || [ ! -f "$new" ]; then
    echo "diff.sh: no $old or $new (build win64 first); pair $name skipped" >&2
    continue
  fi
  run_pair product "$name" "$old" "$new" "sample-product"
done
[ ${#results[@]} -ge 3 ] || { echo "diff.sh: fewer than 3 pairs could be made" >&2; exit 1; }

RESULTS=$(printf '%s\n' "${results[@]}") python3 - <<'EOF'
import os
rows = [l.split() for l in os.environ["RESULTS"].splitlines() if l.strip()]
print("%-22s %9s %9s | %9s %9s %9s %9s | %8s %8s %8s %8s %8s" %
      ("pair", "old", "new", "vozpack", "xdelta3-9", "xd3 djw", "bsdiff",
       "size/xd3", "time/xd3", "mem/xd3", "size/djw", "size/bsd"))
def line(name, old, new, vp, xd, dj, bs, tvp, txd, mvp, mxd, note=""):
    print("%-22s %9s %9s | %9d %9d %9d %9d | %8.3f %8.3f %8.3f %8.3f %8.3f  %s" %
          (name, old, new, vp, xd, dj, bs, vp / xd, tvp / txd, mvp / mxd, vp / dj, vp / bs, note))
sums = {}
for r in rows:
    group, name, old, new = r[0], r[1], int(r[2]), int(r[3])
    vp, tvp, mvp, xd, txd, mxd, bs, dj = (int(r[4]), float(r[5]), int(r[6]), int(r[7]), float(r[8]), int(r[9]),
                                          int(r[10]), int(r[11]))
    line(name, old, new, vp, xd, dj, bs, tvp, txd, mvp, mxd,
         "%s %s (%.2fs %dMB vs %.2fs %dMB)" % (group, r[12], tvp, mvp >> 10, txd, mxd >> 10))
    for key in (group, "all"):
        s = sums.setdefault(key, [0, 0, 0, 0, 0.0, 0.0, 0, 0])
        s[0] += vp; s[1] += xd; s[2] += dj; s[3] += bs; s[4] += tvp; s[5] += txd
        s[6] = max(s[6], mvp); s[7] = max(s[7], mxd)
print("-" * 130)
labels = {"elf": "sum: five ELF pairs", "pe": "sum: PE (EFI) pairs", "product": "sum: sample product", "all": "sum: all pairs"}
for key in ("elf", "pe", "product", "all"):
    if key in sums:
        s = sums[key]
        line(labels[key], "", "", s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], "(memory: the largest peak)")
EOF
