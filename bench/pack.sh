#!/usr/bin/env bash
# Benchmark of `vozpack pack` against gzip -6 and 7-Zip's gzip -mx=9 on the
# same bytes, measured in the same run.
#
#   make BUILD=build JOBS=2 native && bench/pack.sh build/native
#   (or: cmake --build build/native --target bench_pack)
#
# The corpus (>= 256 MiB of binaries from /usr/lib and text from
# /usr/include, /usr/share/doc and the like) is copied once into
# $BENCH_WORK (default: <build dir>/bench-pack) and reused. The references
# compress a tar of the corpus (the same file contents plus tar headers).
# Figures: throughput and size of the default level as ratios to gzip -6,
# size of --best as a ratio to 7z a -tgzip -mx=9, and for context the sizes
# that zlib reaches compressing each file on its own, as the archive does.
set -euo pipefail

build=${1:-build/native}
vozpack=$build/tools/vozpack/vozpack
work=${BENCH_WORK:-$build/bench-pack}
corpus=$work/corpus
want=$((256 * 1024 * 1024 + 16 * 1024 * 1024))

for tool in gzip 7z tar python3; do
  command -v $tool >/dev/null || { echo "pack.sh: $tool is missing (run scripts/bootstrap)" >&2; exit 1; }
done
[ -x "$vozpack" ] || { echo "pack.sh: no $vozpack (build it first)" >&2; exit 1; }
mkdir -p "$work"

# Names that a Windows setup cannot carry are left out of the corpus.
unsafe='(^|/)(con|prn|aux|nul|com[1-9]|lpt[1-9])(\.[^/]*)?$|[:*?<>|"\\]|[[:cntrl:]]'

pick() {  # pick BYTES DIR...: regular files, sorted, up to BYTES in all
  local limit=$1; shift
  find "$@" -type f -size +0 -readable -printf '%s %p\n' 2>/dev/null | sort -k2 |
    grep -v -i -E "$unsafe" | awk -v limit="$limit" '{ if (sum + $1 <= limit) { sum += $1; print substr($0, index($0, " ") + 1) } }'
}

if [ ! -f "$work/corpus.done" ]; then
  rm -rf "$corpus" && mkdir -p "$corpus"
  echo "pack.sh: building the corpus in $corpus" >&2
  {
    pick $((160 * 1024 * 1024)) /usr/lib/x86_64-linux-gnu /usr/lib/gcc /usr/bin
    pick $((112 * 1024 * 1024)) /usr/include /usr/share/doc /usr/share/perl /usr/lib/python3 /usr/share/common-licenses
  } | sort -u > "$work/files.txt"
  tar -cf - -T "$work/files.txt" 2>/dev/null | tar -xf - -C "$corpus"
  touch "$work/corpus.done"
fi

bytes=$(find "$corpus" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
files=$(find "$corpus" -type f | wc -l)
if [ "$bytes" -lt $((256 * 1024 * 1024)) ]; then
  echo "pack.sh: the corpus holds only $bytes bytes (want $want)" >&2
  exit 1
fi
tar -cf "$work/corpus.tar" -C "$corpus" .
cat "$work/corpus.tar" > /dev/null  # warm the page cache for everyone

seconds() {  # seconds CMD...: wall time of the command
  local start end
  start=$(date +%s%N)
  "$@"
  end=$(date +%s%N)
  printf '%d.%09d\n' $(((end - start) / 1000000000)) $(((end - start) % 1000000000))
}

t_gzip=$(seconds sh -c "gzip -6 -c '$work/corpus.tar' > '$work/corpus.tar.gz'")
s_gzip=$(stat -c %s "$work/corpus.tar.gz")
t_pack=$(seconds "$vozpack" pack --archive-only --out "$work/default.voz" "$corpus")
s_pack=$(stat -c %s "$work/default.voz")
t_best=$(seconds "$vozpack" pack --best --archive-only --out "$work/best.voz" "$corpus")
s_best=$(stat -c %s "$work/best.voz")
rm -f "$work/corpus7.gz"
t_7z=$(seconds sh -c "7z a -tgzip -mx=9 '$work/corpus7.gz' '$work/corpus.tar' > /dev/null")
s_7z=$(stat -c %s "$work/corpus7.gz")
tar_bytes=$(stat -c %s "$work/corpus.tar")
# Context: the same compression per file (entries are compressed one by one;
# a tar is compressed as one stream and so shares context across files).
per_file=$(python3 - "$corpus" <<'EOF'
import os, sys, zlib
s6 = s9 = 0
for root, _, names in os.walk(sys.argv[1]):
    for n in names:
        with open(os.path.join(root, n), "rb") as f:
            b = f.read()
        s6 += len(zlib.compress(b, 6))
        s9 += len(zlib.compress(b, 9))
print(s6, s9)
EOF
)
"$vozpack" test "$work/default.voz" > /dev/null
"$vozpack" test "$work/best.voz" > /dev/null

python3 - "$bytes" "$files" "$tar_bytes" "$t_gzip" "$s_gzip" "$t_pack" "$s_pack" "$t_best" "$s_best" "$t_7z" "$s_7z" "$(nproc)" $per_file <<'EOF'
import sys
(bytes_, files, tar_bytes, t_gzip, s_gzip, t_pack, s_pack, t_best, s_best, t_7z, s_7z, cores, z6, z9) = sys.argv[1:]
b, tb = int(bytes_), int(tar_bytes)
mb = lambda n, t: n / float(t) / 1e6
print(f"corpus: {files} files, {b} bytes ({b / 2**20:.1f} MiB); tar of it {tb} bytes; {cores} cores")
print(f"gzip -6 (tar)            : {int(s_gzip):>11} bytes  {float(t_gzip):7.2f} s  {mb(tb, t_gzip):7.1f} MB/s")
print(f"vozpack pack (default 6) : {int(s_pack):>11} bytes  {float(t_pack):7.2f} s  {mb(b, t_pack):7.1f} MB/s")
print(f"7z a -tgzip -mx=9 (tar)  : {int(s_7z):>11} bytes  {float(t_7z):7.2f} s  {mb(tb, t_7z):7.1f} MB/s")
print(f"vozpack pack --best      : {int(s_best):>11} bytes  {float(t_best):7.2f} s  {mb(b, t_best):7.1f} MB/s")
print(f"default vs gzip -6       : throughput x{mb(b, t_pack) / mb(tb, t_gzip):.2f}, size x{int(s_pack) / int(s_gzip):.3f}")
print(f"--best vs 7z -mx=9       : size x{int(s_best) / int(s_7z):.3f}, time x{float(t_best) / float(t_7z):.2f}")
print(f"context, zlib per file   : level 6 {int(z6)} bytes (default x{int(s_pack) / int(z6):.3f}), "
      f"level 9 {int(z9)} bytes (--best x{int(s_best) / int(z9):.3f})")
EOF
